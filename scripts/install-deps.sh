#!/bin/sh
# Installs the Debian packages the panel needs, and only those that are
# missing. Uses sudo when not run as root.
#   install-deps.sh run      building and running: make, make run
#   install-deps.sh package  and the Debian package: make package
#   install-deps.sh windows  and the Windows programs, zip and installer: make windows
#   install-deps.sh test     all of the above, and the tests, the sanitizer and
#                            fuzz builds, lint
# Debian 12 (bookworm) or later, for Qt 6.4 and CMake 3.21.
set -e
level=${1:-run}
case $level in
    run | package | windows | test) ;;
    *) echo "usage: $0 run|package|windows|test" >&2; exit 2 ;;
esac

# Building and running: the compiler, Qt, and the font the window is laid
# out for (Liberation Sans has Arial's metrics).
PACKAGES="cmake make g++ qt6-base-dev qt6-serialport-dev libgl-dev fonts-liberation"
# quendra-bridge's MQTT client library, the TLS library it asks itself about
# a CA file and a failed handshake, and the HTTP server and WebSocket of its
# operator's page, which every build of the bridge serves.
PACKAGES="$PACKAGES libmosquitto-dev libssl-dev qt6-httpserver-dev qt6-websockets-dev"
if [ "$level" = package ] || [ "$level" = test ]; then
    # dpkg-dev and file: CPack works out the package's library dependencies
    # with dpkg-shlibdeps, which it runs on what file says is ELF;
    # dpkg-buildflags gives the hardening flags. CPack writes root ownership
    # into the package itself; fakeroot is not needed.
    PACKAGES="$PACKAGES dpkg-dev file"
fi
if [ "$level" = windows ] || [ "$level" = test ]; then
    # make windows: Debian's source of qt6-base (dpkg-source unpacks it),
    # built for Windows with mingw-w64 on POSIX threads and ninja; the zip is
    # written by python3, the installer by NSIS.
    PACKAGES="$PACKAGES dpkg-dev g++-mingw-w64-x86-64-posix ninja-build python3 nsis"
fi
if [ "$level" = test ]; then
    # The Windows programs run under wine on a virtual X display (xvfb,
    # below), driven by keystrokes from xdotool; xclip reads what they copy,
    # unzip lists the zip.
    # The wine package gives /usr/bin/wine, wine64 with libwine runs 64-bit
    # programs.
    PACKAGES="$PACKAGES wine wine64 xdotool xclip unzip"
    # The package test checks the package with lintian, its AppStream
    # metadata with appstreamcli, its desktop entry with desktop-file-validate,
    # and watches the installed panel open its settings with strace.
    PACKAGES="$PACKAGES lintian appstream desktop-file-utils strace"
    # The network line's tests run a real terminal server of their own.
    PACKAGES="$PACKAGES ser2net"
    # The bridge's tests run a real broker of their own and its clients, and
    # make the certificates of a TLS broker with openssl.
    PACKAGES="$PACKAGES mosquitto mosquitto-clients openssl"
    # Sanitizer and fuzzing builds (clang, libFuzzer) and make lint.
    PACKAGES="$PACKAGES clang libclang-rt-14-dev clang-tidy cppcheck"
    # make screenshot: the panel on a virtual X display.
    PACKAGES="$PACKAGES xvfb xauth python3"
    # make bench counts the start-up's instructions under callgrind.
    PACKAGES="$PACKAGES valgrind"
    # The Windows line code: make lint compiles the panel for Windows with
    # mingw-w64, and tst_wine runs a mingw-built probe under wine.
    PACKAGES="$PACKAGES g++-mingw-w64-x86-64"
    # The bridge's page is tested in Chromium, driven by playwright-core under
    # node (npm below); a node and npm already there are kept as they are.
    PACKAGES="$PACKAGES chromium"
    command -v node >/dev/null 2>&1 || PACKAGES="$PACKAGES nodejs"
    command -v npm >/dev/null 2>&1 || PACKAGES="$PACKAGES npm"
fi

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

# playwright-core at the version tests/web/package-lock.json pins, installed
# by the user who runs this (not root through sudo) and only when the lock
# changed since the last install.
if [ "$level" = test ]; then
    web="$(cd "$(dirname "$0")/.." && pwd)/tests/web"
    if ! cmp -s "$web/package-lock.json" "$web/node_modules/.quendra-lock"; then
        major=$(node -p 'process.versions.node.split(".")[0]')
        if [ "$major" -lt 20 ]; then
            echo "playwright-core needs node 20 or later; this is node $major" >&2
            exit 1
        fi
        echo "Installing tests/web/node_modules (npm ci)"
        (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
        cp "$web/package-lock.json" "$web/node_modules/.quendra-lock"
    fi
fi

# The tests start ser2net and mosquitto themselves, on ports of their own;
# the packages would also run them as system services (ser2net on the
# machine's serial ports, mosquitto on port 1883).
for service in ser2net mosquitto; do
    case " $missing " in
        *" $service "*)
            if command -v systemctl >/dev/null 2>&1; then
                $SUDO systemctl stop "$service.service" 2>/dev/null || true
                $SUDO systemctl disable "$service.service" 2>/dev/null || true
            fi
            ;;
    esac
done
