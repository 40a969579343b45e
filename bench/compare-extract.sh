#!/usr/bin/env bash
# Runs two quillory-extract programs over the same files in every mode, format and job count, and says whether each
# pair wrote the same bytes (rows and messages). For checking that a change, or another build of the program, keeps
# the output as it was:  bench/compare-extract.sh OLD-PROGRAM NEW-PROGRAM FOLDER-OR-FILE...
set -euo pipefail
if [ $# -lt 3 ]; then
    echo "usage: bench/compare-extract.sh OLD-PROGRAM NEW-PROGRAM FOLDER-OR-FILE..." >&2
    exit 2
fi
old=$1
new=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differ=0
for mode in 1 2 3 4; do
    for format in text tsv jsonl save-text save-csv; do
        for jobs in 1 2; do
            case $format in
            save-text | save-csv) options=(--"$format" "$work/saved") ;;
            *) options=(--format "$format") ;;
            esac
            for side in old new; do
                program=$old
                [ "$side" = new ] && program=$new
                rm -f "$work/saved"
                status=0
                "$program" -m "$mode" -t td -s one -j "$jobs" --no-progress "${options[@]}" "$@" \
                    >"$work/$side.out" 2>"$work/$side.err" || status=$?
                [ -f "$work/saved" ] && mv "$work/saved" "$work/$side.out"
                echo "$status" >"$work/$side.status"
            done
            label="mode $mode, $format, -j $jobs"
            if cmp -s "$work/old.out" "$work/new.out" && cmp -s "$work/old.status" "$work/new.status"; then
                echo "same:    $label ($(wc -c <"$work/new.out") bytes)"
            else
                echo "DIFFER:  $label"
                differ=1
            fi
            cmp -s "$work/old.err" "$work/new.err" || echo "         (messages differ: $(head -c 200 "$work/new.err"))"
        done
    done
done
exit $differ
