#!/bin/sh
# Installs the Debian packages the panel needs to build, test and run, and
# only those that are missing. Uses sudo when not run as root.
set -e
# dpkg-dev and file: the Debian package (make package) works out its library
# dependencies with dpkg-shlibdeps, which CPack runs on what file says is ELF.
# CPack writes root ownership into the package itself; fakeroot is not needed.

PACKAGES="cmake make g++ qt6-base-dev qt6-serialport-dev libgl-dev fonts-liberation xvfb xauth dpkg-dev file python3"
# The package test checks the package with lintian, its AppStream metadata
# with appstreamcli, its desktop entry with desktop-file-validate, and watches
# the installed panel open its settings with strace.
PACKAGES="$PACKAGES lintian appstream desktop-file-utils strace"
# The network line's tests run a real terminal server.
PACKAGES="$PACKAGES ser2net"
# quendra-bridge builds on libmosquitto; its tests run a real broker and its
# clients, and make the certificates of a TLS broker with openssl.
PACKAGES="$PACKAGES libmosquitto-dev mosquitto mosquitto-clients openssl"
# Sanitizer and fuzzing builds (clang, libFuzzer) and make lint.
PACKAGES="$PACKAGES clang libclang-rt-14-dev clang-tidy cppcheck"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
