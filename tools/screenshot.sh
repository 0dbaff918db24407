#!/usr/bin/env bash
# Takes a screenshot of the display the client runs on (the Xvfb display of
# scripts/run.sh, else $DISPLAY) and prints the PNG's path.
# Usage: tools/screenshot.sh [OUTPUT.png]
set -euo pipefail
state="${XDG_RUNTIME_DIR:-/tmp}/velkor-run-$(id -u)"
display="${DISPLAY:-}"
[ -f "$state/display" ] && display=$(cat "$state/display")
if [ -z "$display" ]; then
    echo "screenshot.sh: no display (is scripts/run.sh running?)" >&2
    exit 1
fi
out=${1:-$(mktemp "${TMPDIR:-/tmp}/velkor-screenshot-XXXXXX.png")}
import -display "$display" -window root "png:$out"
echo "$out"
