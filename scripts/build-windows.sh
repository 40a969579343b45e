#!/usr/bin/env bash
# Cross-builds Quillory for Windows (x86-64) into build-windows/: quillory.exe, quillory-worker.exe,
# quillory-extract.exe and the test programs, each with the DLLs and Qt plugins it needs beside it.
#
#   scripts/build-windows.sh [--sdk DIR] [--myhtml-archive FILE]
#
# It needs a mingw-w64 SDK of Qt 6.4.2, ICU and GoogleTest: the folder holding its mingw-w64.cmake, named by --sdk
# or $QUILLORY_WINDOWS_SDK. scripts/windows/build-sdk.sh builds one from Debian's source packages (about an hour on
# two cores). Without either, a prebuilt quillory-mingw-sdk.tar.xz beside the project (../shared/windows-sdk/) is
# unpacked into build-windows-sdk/.
#
# MyHTML is compiled from modest's source (cmake/windows/MyHtmlFromSource.cmake): --myhtml-archive or
# $QUILLORY_MYHTML_ARCHIVE names modest's .orig.tar.xz; without it, the one beside the project is used, or else
# apt-get fetches Debian's (which needs a deb-src line in the apt sources).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sdk=${QUILLORY_WINDOWS_SDK:-}
archive=${QUILLORY_MYHTML_ARCHIVE:-}
while [ $# -gt 0 ]; do
    case $1 in
    --sdk) sdk=$2; shift 2 ;;
    --myhtml-archive) archive=$2; shift 2 ;;
    *) echo "usage: scripts/build-windows.sh [--sdk DIR] [--myhtml-archive FILE]" >&2; exit 2 ;;
    esac
done
"$root/scripts/setup.sh" --windows
shared=$root/../shared/windows-sdk

if [ -z "$sdk" ]; then
    sdk=$root/build-windows-sdk/quillory-mingw-sdk
    if [ ! -f "$sdk/mingw-w64.cmake" ]; then
        if [ ! -f "$shared/quillory-mingw-sdk.tar.xz" ]; then
            echo "build-windows.sh: no Windows SDK: name one with --sdk DIR, or build one with scripts/windows/build-sdk.sh" >&2
            exit 2
        fi
        rm -rf "$root/build-windows-sdk"
        mkdir -p "$root/build-windows-sdk"
        tar -xJf "$shared/quillory-mingw-sdk.tar.xz" -C "$root/build-windows-sdk"
    fi
fi
sdk=$(cd "$sdk" && pwd)

if [ -z "$archive" ]; then
    archive=$(ls "$shared"/modest_*.orig.tar.xz 2>/dev/null | head -n 1 || true)
fi
if [ -z "$archive" ]; then
    mkdir -p "$root/build-windows-sdk/modest"
    (cd "$root/build-windows-sdk/modest" && apt-get source --download-only modest >/dev/null)
    archive=$(ls "$root"/build-windows-sdk/modest/modest_*.orig.tar.* | head -n 1)
fi

# The window's icon, rendered from its SVG on this machine (the SDK has no Qt Svg), and the Linux programs the
# Windows rows are compared with.
linux_build=${QUILLORY_BUILD_DIR:-$root/build}
if [ ! -f "$linux_build/build.ninja" ]; then
    cmake -S "$root" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$linux_build" --target quillory_packaging_assets quillory-extract quillory-corpus >/dev/null

build=${QUILLORY_WINDOWS_BUILD_DIR:-$root/build-windows}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sdk/mingw-w64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQUILLORY_MYHTML_ARCHIVE="$archive" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 \
    -DQUILLORY_ICON_PNG_FOLDER="$linux_build/packaging/icons" \
    -DQUILLORY_LINUX_BUILD="$linux_build" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
# Each program finds its DLLs and Qt's platform plugins beside it.
find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' -print0 | xargs -0 "$sdk/deploy.sh"
