#!/bin/sh
# make windows: the static Qt for Windows (built once into the cache, see
# build-qt.sh), then the panel and quendra-send cross-built against it into
# BUILD (default build-windows), with the zip and the installer there.
#   packaging/windows/build.sh [BUILD]
set -e
cd "$(dirname "$0")/../.."
build=${1:-build-windows}
qt=$(sh packaging/windows/build-qt.sh | tail -1)
mkdir -p "$build"
"$qt/bin/qt-cmake" -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build"
ls -l "$build"/quendra-*-win64.zip "$build"/quendra-*-win64-setup.exe
