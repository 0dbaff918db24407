#!/usr/bin/env bash
# Builds the Debian package of the client and prints its path.
# Usage: packaging/build-deb.sh [BUILD_DIR] [cmake options, e.g. -DVELKOR_SERVICE_BASE=http://...]
# The package's service address is the build's VELKOR_SERVICE_BASE (by default
# the local service's).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-deb}
shift || true
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TESTS=OFF \
    -DVELKOR_BUILD_BENCH=OFF "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target velkor
# cpack installs into its own staging folder; everything it needs is built above.
(cd "$dir" && cpack -G DEB -D CPACK_CMAKE_GENERATOR=Ninja >/dev/null)
ls -t "$dir"/velkor_*.deb | head -n 1
