#!/usr/bin/env bash
# Usage: Validate.sh TOOL ARGUMENT...
# Runs a validator and fails on anything it has to say, warnings and hints included: a clean
# file prints nothing but a success line. Skipped (77) where the validator is not installed.
set -uo pipefail
if ! command -v "$1" >/dev/null; then
    echo "$1 is not installed"
    exit 77
fi
output=$("$@" 2>&1)
status=$?
printf '%s\n' "$output"
if [ $status -ne 0 ]; then
    exit 1
fi
# desktop-file-validate succeeds on warnings and hints; appstreamcli is given --strict instead.
if grep -vE '^(✔ Validation was successful.*)?$' <<<"$output" | grep -q .; then
    exit 1
fi
