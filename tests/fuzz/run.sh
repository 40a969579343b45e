#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for a set time, starting from the
# seed corpus here. Prints each target's executions, speed and coverage, and a total.
#
#   tests/fuzz/run.sh [--myhtml-source DIR] [--max-len BYTES] [SECONDS_PER_TARGET] [TARGET...]
#
# (default: 60 s, every target). The targets link Debian's libmodest and build in build-fuzz/.
# With --myhtml-source (or QUILLORY_MYHTML_SOURCE in the environment) naming an unpacked modest
# source tree (`apt-get source modest`), MyHTML itself is compiled with the sanitizers and the
# fuzzer's coverage too, as a shared library that takes libmodest's place, in build-fuzz-myhtml/.
# --max-len caps every target's input length (shorter inputs run faster).
#
# New inputs the fuzzer keeps go to build-fuzz/corpus/TARGET (kept between runs, shared by both
# builds, never committed); an input that crashes or hangs goes to BUILD/artifacts/TARGET. Such an
# input belongs in tests/fuzz/regressions/TARGET once fixed, where the ordinary test suite replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
myhtml_source=${QUILLORY_MYHTML_SOURCE:-}
max_len_override=
while [ $# -gt 0 ]; do
    case $1 in
    --myhtml-source)
        myhtml_source=${2:?--myhtml-source needs a folder}
        shift 2
        ;;
    --max-len)
        max_len_override=${2:?--max-len needs a number of bytes}
        shift 2
        ;;
    *) break ;;
    esac
done
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(document lines ansi_codec fix_path scramble)
fi

build=$root/build-fuzz
if [ -n "$myhtml_source" ]; then
    if [ ! -f "$myhtml_source/source/myhtml/tree.c" ] || [ ! -f "$myhtml_source/include/myhtml/myhtml.h" ]; then
        echo "run.sh: $myhtml_source is not a modest source tree (no source/myhtml/tree.c or include/myhtml/myhtml.h)." >&2
        echo "Unpack one outside the repository, e.g.: mkdir -p /work/src && cd /work/src && apt-get source modest" >&2
        echo "(needs a deb-src line for bookworm in the apt sources), then pass the modest-* folder." >&2
        exit 2
    fi
    myhtml_source=$(cd "$myhtml_source" && pwd)
    build=$root/build-fuzz-myhtml
fi

"$root/scripts/setup.sh" --fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_FUZZ=ON \
    -DQUILLORY_MYHTML_SOURCE="$myhtml_source" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

# With MyHTML built here, the document target must load that build and no libmodest, and every
# MyHTML routine the program defines itself must be the one the library's calls reach.
if [ -n "$myhtml_source" ] && [[ " ${targets[*]} " == *" document "* ]]; then
    program=$build/tests/fuzz/fuzz_document
    library=$build/libquillory_myhtml.so
    # The list is read whole first: grep -q stopping early would break ldd's pipe, which pipefail counts.
    libraries=$(ldd "$program")
    if ! grep -q "libquillory_myhtml.so => $library" <<<"$libraries" || grep -q libmodest <<<"$libraries"; then
        echo "run.sh: fuzz_document does not load $library alone:" >&2
        echo "$libraries" >&2
        exit 1
    fi
    replaced=$(comm -12 <(nm -D --defined-only "$program" | awk '{print $3}' | sort -u) \
        <(nm -D --defined-only "$library" | awk '{print $3}' | sort -u) | grep -E '^(my|mchar_)' || true)
    bound=$(LD_DEBUG=bindings LD_BIND_NOW=1 "$program" -runs=0 2>&1 |
        sed -n "s/.*libquillory_myhtml\.so \[0\] to [^ ]*fuzz_document \[0\]: normal symbol \`\([a-z_]*\)'.*/\1/p" |
        sort -u)
    unbound=$(comm -23 <(echo "$replaced") <(echo "$bound"))
    if [ -z "$replaced" ] || [ -n "$unbound" ]; then
        echo "run.sh: MyHTML's calls do not reach the program's own versions of: ${unbound:-(none found)}" >&2
        exit 1
    fi
    echo "MyHTML from $myhtml_source; its calls to $(echo "$replaced" | wc -l) routines reach the program's versions"
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Longest input per target: documents and line files get room for structure; the rest are short.
max_len() {
    if [ -n "$max_len_override" ]; then
        echo "$max_len_override"
        return
    fi
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
    corpus=$root/build-fuzz/corpus/$target
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
    speed=$(sed -n 's|^stat::average_exec_per_sec: *|exec/s: |p' "$log" | tail -1)
    runs=${runs:-0}
    total=$((total + runs))
    line=$(printf '%-11s %12s executions  %-14s %s' "$target" "$runs" "${speed:-exec/s: 0}" "$coverage")
    if [ $status -ne 0 ]; then
        failed=1
        line="$line  FAILED (exit $status), see $log and $artifacts"
    fi
    summary+=("$line")
done
printf '%s\n' "${summary[@]}"
echo "total: $total executions"
exit $failed
