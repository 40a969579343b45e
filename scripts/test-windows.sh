#!/usr/bin/env bash
# Cross-builds Quillory for Windows (scripts/build-windows.sh, which takes the same options) and runs its suites
# under Wine through CTest, in build-windows/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build-windows.sh" "$@"
build=${QUILLORY_WINDOWS_BUILD_DIR:-$root/build-windows}
export WINEDEBUG=-all
# A Wine prefix of this run's own, made once before the tests share it.
export WINEPREFIX=${WINEPREFIX:-$build/wine}
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
