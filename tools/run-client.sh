#!/usr/bin/env bash
# Runs the built client against the local demo web service.
# Usage: tools/run-client.sh BUILD_DIR
# The demo service listens on 127.0.0.1:18080 (the default service address) for as
# long as the client runs. Without a display the client runs under Xvfb.
set -euo pipefail
build=$(cd "${1:?usage: run-client.sh BUILD_DIR}" && pwd)
service="$build/tools/demo-service/velkor-demo-service"
client="$build/app/velkor"

"$service" 18080 &
service_pid=$!
trap 'kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true' EXIT

# The client keeps its settings files in its working folder.
mkdir -p "$build/run"
cd "$build/run"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$client"
else
    echo "No display: running under Xvfb."
    xvfb-run -a -s "-screen 0 1280x800x24" "$client"
fi
