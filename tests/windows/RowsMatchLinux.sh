#!/usr/bin/env bash
# The Windows quillory-extract, run under Wine, writes the same bytes as the Linux one over a generated corpus: every
# option, every format, one job and two. The file names are given relative to the corpus, so that they are spelt
# alike on both systems.
#   RowsMatchLinux.sh LINUX-EXTRACT WINDOWS-EXTRACT CORPUS-GENERATOR [FILES BIG-MB]
set -euo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
generator=$(realpath "$3")
files=${4:-150}
big=${5:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$generator" "$work/corpus" --files "$files" --big-mb "$big" --seed 7 >/dev/null
cd "$work/corpus"
ls | LC_ALL=C sort >"$work/list"
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all
failed=0
compared=0
for mode in 1 2 3 4; do
    for format in text tsv jsonl; do
        for jobs in 1 2; do
            arguments=(-m "$mode" -t td -s one -j "$jobs" --no-progress --format "$format")
            "$linux" "${arguments[@]}" --files-from "$work/list" >"$work/linux.out"
            # Wine shows this system's root as drive Z:.
            "$wine" "$windows" "${arguments[@]}" --files-from "Z:$work/list" >"$work/windows.out" 2>"$work/windows.err" ||
                true
            compared=$((compared + 1))
            if ! cmp -s "$work/linux.out" "$work/windows.out"; then
                echo "differ: mode $mode, $format, -j $jobs ($(wc -c <"$work/linux.out") against $(wc -c <"$work/windows.out") bytes)"
                head -c 300 "$work/windows.err"
                failed=$((failed + 1))
            fi
        done
    done
done
echo "$((compared - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
