#!/usr/bin/env bash
# Sets up, builds and starts Quillory's window. With arguments, runs the command-line extractor
# instead (scripts/run.sh -m 4 page.html).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${QUILLORY_BUILD_DIR:-$root/build}
if [ $# -gt 0 ]; then
    exec "$build/cli/quillory-extract" "$@"
fi
exec "$build/app/quillory"
