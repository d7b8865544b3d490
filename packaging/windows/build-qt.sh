#!/bin/sh
# A static Qt for 64-bit Windows, built from Debian's own source of qt6-base
# (the version of the host tools in qt6-base-dev-tools), once per machine.
#   build-qt.sh            builds it when missing; prints its prefix last
#   build-qt.sh --prefix   prints the prefix the current options build into
# The result lives in a cache outside the source tree, in a folder named for
# the Qt version and a digest of the configure options, the toolchain file
# and the compiler: any change there builds a new one, anything else reuses
# it. QUENDRA_CACHE moves the cache (default ~/.cache/quendra).
set -e
here=$(cd "$(dirname "$0")" && pwd)
cache=${QUENDRA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quendra}

# The Qt of the host tools: moc, rcc and uic come from there, so the source
# must be the same version.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
[ -n "$qt_version" ] || { echo "build-qt.sh: qt6-base-dev-tools is not installed" >&2; exit 1; }
upstream=${qt_version%%+*}

# What the panel and quendra-send use of Qt, and nothing more. Off, with why:
# - tabletevent: Debian's source leaves out the WinTab header it needs;
# - opengl, dynamicgl: the programs draw with the raster engine (Direct2D
#   stays: in 6.4 the DirectWrite font database Windows' platform plugin
#   links to is built only with it);
# - sql, dbus, printsupport, concurrent, xml, testlib: unused on Windows
#   (the tests run under wine from the Linux side);
# - openssl: the lines are plain TCP; gif, ico, jpeg: the pictures are PPM.
QT_OPTIONS="-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
 -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
 -DFEATURE_sql=OFF -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF
 -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
 -DFEATURE_testlib=OFF -DFEATURE_network=ON -DINPUT_openssl=no -DFEATURE_system_zlib=OFF
 -DFEATURE_tabletevent=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF -DFEATURE_jpeg=OFF"

compiler=$(x86_64-w64-mingw32-g++-posix --version 2>/dev/null | head -1)
[ -n "$compiler" ] || { echo "build-qt.sh: x86_64-w64-mingw32-g++-posix is not installed" >&2; exit 1; }
key=$( (echo "$qt_version"; echo "$QT_OPTIONS"; echo "$compiler"; cat "$here/mingw.cmake") |
    sha256sum | cut -c1-12)
prefix=$cache/qt-$upstream-mingw64-$key

if [ "$1" = --prefix ]; then
    echo "$prefix"
    exit 0
fi
tree=$cache/src/qt6-base-${qt_version%-*}

# What a finished build keeps beside itself: the toolchain file it was built
# with (projects built against it chain to that copy, not to a checkout that
# may be gone) and the record of what it was built from, which ships in the
# programs' licence notice.
finish() {
    cp "$here/mingw.cmake" "$prefix/mingw.cmake"
    sed -i "s|^set(__qt_initially_configured_toolchain_file .*|set(__qt_initially_configured_toolchain_file \"$prefix/mingw.cmake\")|" \
        "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
    {
        echo "Qt $upstream, built from Debian's source package qt6-base $qt_version"
        echo "(apt-get source qt6-base=$qt_version; https://deb.debian.org/debian/pool/main/q/qt6-base/,"
        echo "and every version at https://snapshot.debian.org/package/qt6-base/$qt_version/)"
        echo "with $compiler, configured with:"
        echo "$QT_OPTIONS"
        echo "Source tree: $tree"
    } >"$prefix/quendra-qt-build.txt"
    touch "$prefix/.complete"
}

if [ -f "$prefix/.complete" ]; then
    [ -f "$prefix/mingw.cmake" ] || finish
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache"
# Two builds at once would share one folder: the second waits for the first.
exec 9>"$cache/qt-$key.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

# The source, through a deb-src list of our own: the system's apt
# configuration and its lists stay as they are.
apt_dir=$cache/apt
src_dir=$cache/src
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" "$src_dir"
if [ ! -f "$tree/.unpacked-$qt_version" ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        >"$apt_dir/parts/src.sources"
    apt_options="-o Dir::Etc::SourceParts=$apt_dir/parts -o Dir::Etc::SourceList=/dev/null
        -o Dir::State::Lists=$apt_dir/lists -o Dir::Cache=$apt_dir/cache"
    # As root, apt would fetch as _apt, who cannot write to a cache of ours.
    [ "$(id -u)" -ne 0 ] || apt_options="$apt_options -o APT::Sandbox::User=root"
    echo "qt for windows: fetching the source of qt6-base $qt_version" >&2
    # shellcheck disable=SC2086
    apt-get -qq $apt_options update >&2
    rm -rf "$tree"
    # shellcheck disable=SC2086
    (cd "$src_dir" && apt-get -qq $apt_options source "qt6-base=$qt_version" >&2)
    [ -d "$tree" ] || { echo "build-qt.sh: the source did not unpack to $tree" >&2; exit 1; }
    touch "$tree/.unpacked-$qt_version"
fi

build=$cache/build-$key
log=$cache/qt-$key.log
rm -rf "$build" "$prefix"
echo "qt for windows: configuring $upstream (log: $log)" >&2
start=$(date +%s)
# shellcheck disable=SC2086
if ! cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/mingw.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" $QT_OPTIONS >"$log" 2>&1; then
    tail -40 "$log" >&2
    echo "build-qt.sh: configuring Qt failed; the whole log is $log" >&2
    exit 1
fi

# A long build: one line of progress a minute, the whole output in the log.
echo "qt for windows: building; about half an hour on two quiet cores" >&2
cmake --build "$build" >>"$log" 2>&1 &
builder=$!
trap 'kill $builder 2>/dev/null' INT TERM HUP
while kill -0 $builder 2>/dev/null; do
    sleep 60 &
    wait $! || true
    step=$(grep -o '^\[[0-9]*/[0-9]*\]' "$log" | tail -1)
    echo "qt for windows: $step steps, $((($(date +%s) - start) / 60)) min" >&2
done
if ! wait $builder; then
    grep -B2 -A20 -m3 'error:\|FAILED:' "$log" >&2 || tail -40 "$log" >&2
    echo "build-qt.sh: building Qt failed; the whole log is $log" >&2
    exit 1
fi
trap - INT TERM HUP
cmake --install "$build" >>"$log" 2>&1
rm -rf "$build"
finish
echo "qt for windows: built in $((($(date +%s) - start) / 60)) min, $(du -sh "$prefix" | cut -f1) in $prefix" >&2
echo "$prefix"
