#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (in build-fuzz/) and runs each for a set time,
# starting from the seed corpus here. Prints each target's executions and coverage, and a total.
#
#   tests/fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 60 s, every target)
#
# New inputs the fuzzer keeps go to build-fuzz/corpus/TARGET (kept between runs, never
# committed); an input that crashes or hangs goes to build-fuzz/artifacts/TARGET. Such an input
# belongs in tests/fuzz/regressions/TARGET once fixed, where the ordinary test suite replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(document lines ansi_codec fix_path scramble)
fi

"$root/scripts/setup.sh" --fuzz
build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_FUZZ=ON \
    >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Longest input per target: documents and line files get room for structure; the rest are short.
max_len() {
    case $1 in
    document | lines) echo 65536 ;;
    scramble) echo 70000 ;;
    *) echo 4096 ;;
    esac
}

total=0
failed=0
summary=()
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    mkdir -p "$corpus" "$artifacts"
    dict=()
    if [ -f "$root/tests/fuzz/$target.dict" ]; then
        dict=(-dict="$root/tests/fuzz/$target.dict")
    fi
    log=$build/$target.log
    echo "fuzzing $target for $seconds s (log: $log)"
    set +e
    "$build/tests/fuzz/fuzz_$target" "$corpus" "$root/tests/fuzz/corpus/$target" "${dict[@]}" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=4096 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1
    status=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
    runs=${runs:-0}
    total=$((total + runs))
    line=$(printf '%-11s %12s executions  %s' "$target" "$runs" "$coverage")
    if [ $status -ne 0 ]; then
        failed=1
        line="$line  FAILED (exit $status), see $log and $artifacts"
    fi
    summary+=("$line")
done
printf '%s\n' "${summary[@]}"
echo "total: $total executions"
exit $failed
