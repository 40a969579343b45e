#!/usr/bin/env bash
# On a virtual X display with a stand-in clipboard manager: a program copies text to the clipboard and
# ends as the window's close does. With the hand-over the manager must hold exactly the text
# afterwards; without it, nothing.
#
# Usage: clipboard-hand-over-test.sh CHECK-PROGRAM STAND-IN-MANAGER
# Ends with 77 (skipped) when Xvfb is not installed.
set -euo pipefail
check=$1
manager=$2

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "Xvfb is not installed: skipped"
    exit 77
fi

work=$(mktemp -d)
xvfb_pid=""
manager_pid=""
cleanup() {
    if [ -n "$manager_pid" ]; then
        kill "$manager_pid" 2>/dev/null || true
        wait "$manager_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Xvfb picks a free display and names it once it takes clients. Requests of at most 4 MiB (its
# smallest limit) make Qt send a longer text in pieces (INCR), which the long text below needs.
# -noreset: between cases every client may have gone, and a server resetting then turns away the
# next case's program ("could not connect to display").
mkfifo "$work/display"
Xvfb -displayfd 3 -nolisten tcp -noreset -maxbigreqsize 1 -screen 0 640x480x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
display=""
read -r -t 30 display <"$work/display" || true
if [ -z "$display" ]; then
    echo "Xvfb did not start:"
    cat "$work/xvfb.log"
    exit 1
fi
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime"
unset WAYLAND_DISPLAY
mkdir -m 700 "$work/runtime"

# Starts the stand-in manager and waits until it owns CLIPBOARD_MANAGER.
start_manager() {
    rm -f "$work/saved" "$work/ready"
    "$manager" "$1" "$work/saved" "$work/ready" >"$work/manager.out" &
    manager_pid=$!
    for _ in $(seq 400); do
        if [ -e "$work/ready" ]; then
            return 0
        fi
        if ! kill -0 "$manager_pid" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    echo "the stand-in manager did not start"
    exit 1
}

# Waits for a manager that ends by itself; answers its exit status.
manager_ends() {
    local status=0
    wait "$manager_pid" || status=$?
    manager_pid=""
    return "$status"
}

# Stops a manager that waits on; whatever it was sent has reached it by then, since the program that
# sent it has ended.
stop_manager() {
    sleep 0.3
    kill "$manager_pid" 2>/dev/null || true
    wait "$manager_pid" 2>/dev/null || true
    manager_pid=""
}

# Runs the check program; its output (what became of the text) goes to $work/check.out.
run_check() {
    local status=0
    "$check" "$@" >"$work/check.out" 2>"$work/check.err" || status=$?
    if [ "$status" -ne 0 ]; then
        fail "the check program ended with $status: $(cat "$work/check.out" "$work/check.err")"
    fi
}

expect_output() {
    local got
    got=$(cat "$work/check.out")
    if [ "$got" != "$1" ]; then
        fail "$2: the program said \"$got\", expected \"$1\""
    fi
}

expect_manager_said() {
    if ! grep -qx -- "$1" "$work/manager.out"; then
        fail "$2: the manager did not say \"$1\"; it said: $(cat "$work/manager.out")"
    fi
}

expect_saved() {
    if [ ! -e "$work/saved" ]; then
        fail "$2: the manager kept nothing"
    elif ! cmp -s "$1" "$work/saved"; then
        fail "$2: the manager kept other text: $(head -c 200 "$work/saved" | od -c | head -5)"
    fi
}

# Rows as the window copies them: tab-separated, CR LF line ends, characters from Windows-1252
# beyond ASCII (é – “ ” €), and spaces at both ends that must stay.
printf 'Tag\tText\r\n<p>\tcafé – ok\r\n<a href="x">\t“quoted” costs € 5\r\n\t  padded  \r\n' >"$work/rows.txt"
# 5 MB: longer than one request may carry, so that Qt sends it in pieces; numbered rows show a
# piece lost, doubled or out of order.
seq 1 250000 | sed 's/$/\tcafé – ok\r/' >"$work/long.txt"

echo "case: rows handed over"
start_manager save
run_check "$work/rows.txt" hand-over
expect_output "handed over" "rows"
manager_ends || fail "rows: the manager ended with $?"
expect_manager_said "save request" "rows"
expect_manager_said "saved $(wc -c <"$work/rows.txt") bytes at once" "rows"
expect_saved "$work/rows.txt" "rows"
echo "  the manager: $(tail -n 1 "$work/manager.out")"

echo "case: a long text handed over in pieces"
start_manager save
run_check "$work/long.txt" hand-over
expect_output "handed over" "long text"
manager_ends || fail "long text: the manager ended with $?"
if ! grep -qE "^saved $(wc -c <"$work/long.txt") bytes in ([2-9]|[1-9][0-9]+) pieces$" "$work/manager.out"; then
    fail "long text: not taken in pieces: $(cat "$work/manager.out")"
fi
expect_saved "$work/long.txt" "long text"
echo "  the manager: $(tail -n 1 "$work/manager.out")"

echo "case: ending at once loses the text"
start_manager save
run_check "$work/rows.txt" end-at-once
expect_output "" "end at once"
stop_manager
if [ -s "$work/manager.out" ] || [ -e "$work/saved" ]; then
    fail "end at once: the manager was asked to save: $(cat "$work/manager.out")"
fi

echo "case: no clipboard manager"
run_check "$work/rows.txt" hand-over
expect_output "nothing to hand over" "no manager"

echo "case: the manager refuses"
start_manager refuse
run_check "$work/rows.txt" hand-over
expect_output "refused" "refusing manager"
manager_ends || fail "refusing manager: the manager ended with $?"
expect_manager_said "save request" "refusing manager"

echo "case: the manager never answers"
start_manager silent
start=$(date +%s%N)
run_check "$work/rows.txt" hand-over 400
took=$((($(date +%s%N) - start) / 1000000))
expect_output "no answer" "silent manager"
stop_manager
expect_manager_said "save request" "silent manager"
# Patience of 0.4 s; the rest is the program starting, which a sanitizer build slows.
if [ "$took" -gt 10000 ]; then
    fail "silent manager: the program took $took ms to give up"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "all passed"
