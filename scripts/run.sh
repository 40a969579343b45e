#!/usr/bin/env bash
# Sets up, builds and starts Quillory. Until the window lands, the program's front end is the
# command-line extractor: with no arguments this shows its help.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${QUILLORY_BUILD_DIR:-$root/build}
if [ $# -eq 0 ]; then
    exec "$build/cli/quillory-extract" --help
fi
exec "$build/cli/quillory-extract" "$@"
