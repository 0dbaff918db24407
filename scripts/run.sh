#!/usr/bin/env bash
# Installs what Velkor needs, builds the client and the local service, and runs
# the client against the local service (see tools/run-client.sh). The service's
# address compiled into the client (VELKOR_SERVICE_BASE) is the local service's.
source "$(dirname "$0")/common.sh"
velkor_install_packages

cd "$VELKOR_ROOT"
cmake -S "$VELKOR_ROOT" -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target velkor velkor_local_service_launcher
exec "$VELKOR_ROOT/tools/run-client.sh" "$VELKOR_ROOT/build"
