#!/usr/bin/env bash
# Usage: bench/format-bench.sh [QUILLORY_EXTRACT] [CORPUS] [ROUNDS] [JOBS...]
# How much the machine-readable row formats cost: quillory-extract over the bench corpus (made by
# quillory-bench) in mode 1, printing every row as text, as text with -H, as tsv and as jsonl, on
# one core and on all of them (or with each --jobs given as JOBS). The formats take turns within
# each round, so a slower spell of the machine falls on all of them alike. Prints the best and the median wall time of each and
# its ratio to text's in the same run. The rows go to /dev/null, so writing them costs nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
extract=${1:-$root/build/cli/quillory-extract}
corpus=${2:-/tmp/quillory-bench-corpus}
rounds=${3:-7}
shift $(($# < 3 ? $# : 3))
jobsList=("$@")
if [ ${#jobsList[@]} -eq 0 ]; then
    jobsList=(1 "$(nproc)")
fi
if [ ! -d "$corpus" ]; then
    echo "no corpus at $corpus: run build/bench/quillory-bench once to make it" >&2
    exit 1
fi

formats=("text" "text -H" "tsv" "jsonl")
arguments() {
    case $1 in
        "text -H") echo "--format text -H" ;;
        *) echo "--format $1" ;;
    esac
}

# Seconds, to the millisecond, of one run.
timed() {
    local start end
    start=$(date +%s%N)
    "$extract" --no-progress "$@" "$corpus" >/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}

echo "quillory-extract -m 1 over $corpus ($(find "$corpus" -type f | wc -l) files), $rounds rounds"
for jobs in "${jobsList[@]}"; do
    declare -A times=()
    for _ in $(seq 1 "$rounds"); do
        for format in "${formats[@]}"; do
            # shellcheck disable=SC2046
            times[$format]+="$(timed -m 1 -j "$jobs" $(arguments "$format")) "
        done
    done
    echo "--jobs $jobs"
    printf '  %-8s %10s %10s %8s %8s\n' format "best (s)" "median (s)" best median
    baseBest=0
    baseMedian=0
    for format in "${formats[@]}"; do
        read -r -a sorted <<<"$(tr ' ' '\n' <<<"${times[$format]}" | grep . | sort -n | tr '\n' ' ')"
        best=${sorted[0]}
        median=${sorted[$((${#sorted[@]} / 2))]}
        if [ "$format" = text ]; then
            baseBest=$best
            baseMedian=$median
        fi
        awk -v f="$format" -v b="$best" -v m="$median" -v bb="$baseBest" -v bm="$baseMedian" 'BEGIN {
            printf "  %-8s %10.3f %10.3f %+7.1f%% %+7.1f%%\n", f, b / 1000, m / 1000, (b / bb - 1) * 100, (m / bm - 1) * 100 }'
    done
    unset times
done
