#!/usr/bin/env bash
# Installs what Velkor needs, builds it and runs the client against a local demo service.
source "$(dirname "$0")/common.sh"
velkor_install_packages

cd "$VELKOR_ROOT"
velkor_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$VELKOR_ROOT/tools/run-client.sh" "$VELKOR_ROOT/build"
