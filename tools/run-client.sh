#!/usr/bin/env bash
# Runs the client of a build against the local service, the way an installed
# Velkor runs: installs the build into BUILD_DIR/install, starts the local
# service (web server, SIP server, far end on 127.0.0.1), and starts the
# installed launcher, which prepares the working folder
# (${XDG_DATA_HOME:-~/.local/share}/velkor) and runs the client there.
# Without a display the client runs on an Xvfb display; tools/screenshot.sh
# shows it. Ctrl-C or closing the client stops everything.
# Usage: tools/run-client.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run-client.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
state="${XDG_RUNTIME_DIR:-/tmp}/velkor-run-$(id -u)"
mkdir -p "$state"

cmake --install "$build" --prefix "$build/install" >/dev/null

pids=()
cleanup() {
    trap - EXIT INT TERM
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[$i]}" 2>/dev/null || true
        wait "${pids[$i]}" 2>/dev/null || true
    done
    rm -f "$state/display"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The local service, its web server on the port of the address compiled into
# the client; its banner and the far end's events appear here.
base=$(sed -n 's/^VELKOR_SERVICE_BASE:[A-Z]*=//p' "$build/CMakeCache.txt")
web_port=$(echo "$base" | sed -n 's|^http://127\.0\.0\.1:\([0-9]*\)/*$|\1|p')
if [ -z "$web_port" ]; then
    echo "run-client.sh: the client's service address $base is not a local one" >&2
    exit 1
fi
log="$state/local-service.log"
: > "$log"
"$build/tools/local-service/velkor-local-service" --config-dir "$root/tools/local-service" \
    --web-port "$web_port" > "$log" 2>&1 &
pids+=($!)
tail -n +1 -f "$log" &
pids+=($!)
for _ in $(seq 1 150); do
    grep -q "is running" "$log" && break
    if ! kill -0 "${pids[0]}" 2>/dev/null; then
        echo "run-client.sh: the local service did not start (see above)" >&2
        exit 1
    fi
    sleep 0.1
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    # A display of our own: Xvfb writes its number once it is ready.
    : > "$state/xvfb.display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$state/xvfb.display" >"$state/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do
        [ -s "$state/xvfb.display" ] && break
        sleep 0.1
    done
    number=$(cat "$state/xvfb.display")
    [ -n "$number" ] || { echo "run-client.sh: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$number"
    echo "$DISPLAY" > "$state/display"
    echo "No display: the client runs on Xvfb $DISPLAY; take a look with tools/screenshot.sh"
fi

"$build/install/bin/velkor" &
pids+=($!)
wait "${pids[-1]}" || true
