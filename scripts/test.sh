#!/usr/bin/env bash
# Installs what Velkor needs, builds it and runs every test. Exits non-zero on any failure.
source "$(dirname "$0")/common.sh"
velkor_install_packages

cd "$VELKOR_ROOT"
export QT_QPA_PLATFORM=offscreen

# All tests under AddressSanitizer and UndefinedBehaviorSanitizer.
velkor_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVELKOR_SANITIZE=address -DVELKOR_BUILD_BENCH=OFF
(cd build-asan && ctest --output-on-failure -j 2 --timeout 300)

# The tests that cross threads, again under ThreadSanitizer.
velkor_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELKOR_SANITIZE=thread -DVELKOR_BUILD_BENCH=OFF
(cd build-tsan && ctest --output-on-failure -L threaded --timeout 300 --no-tests=ignore)
