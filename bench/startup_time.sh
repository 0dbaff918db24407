#!/usr/bin/env bash
# Time from process start to the login window mapped on an X display, beside a
# bare Qt dialog's, on the same machine in the same run. Usage: startup_time.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd); runs=${2:-5}
display=:97
Xvfb $display -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Milliseconds until a viewable window named $2 exists, for command $1.
measure() {
    local start end pid
    start=$(date +%s%N)
    $1 >/dev/null 2>&1 &
    pid=$!
    until [[ $(xwininfo -name "$2" 2>/dev/null) == *IsViewable* ]]; do :; done
    end=$(date +%s%N)
    kill $pid; wait $pid 2>/dev/null || true
    echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

work=$(mktemp -d); cd "$work"
velkor=$(for _ in $(seq "$runs"); do measure "$build/app/velkor" Velkor1.10; done | median)
bare=$(for _ in $(seq "$runs"); do measure "$build/bench/bare_dialog" BareDialog; done | median)
rm -rf "$work"
echo "login window shown: ${velkor} ms (median of $runs)"
echo "bare Qt dialog shown: ${bare} ms (median of $runs)"
awk -v a="$velkor" -v b="$bare" 'BEGIN {printf "ratio: %.2f (goal <= 2)\n", a / b}'
