#!/usr/bin/env bash
# Configures and builds Quillory in build/ (or $QUILLORY_BUILD_DIR). Extra CMake settings can come
# in $QUILLORY_CMAKE_ARGS.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLORY_BUILD_DIR:-$root/build}
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${QUILLORY_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)"
