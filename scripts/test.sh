#!/usr/bin/env bash
# Installs what Velkor needs, builds it and runs every test. Exits non-zero on any failure.
source "$(dirname "$0")/common.sh"
velkor_install_packages

cd "$VELKOR_ROOT"
export QT_QPA_PLATFORM=offscreen

# All tests under AddressSanitizer and UndefinedBehaviorSanitizer.
velkor_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVELKOR_SANITIZE=address -DVELKOR_BUILD_BENCH=OFF
# Tests against real peers (SIPp, Kamailio, the engine on loopback) get a second try.
(cd build-asan && ctest --output-on-failure -j 2 --timeout 300 --repeat until-pass:2)

# The tests that cross threads, again under ThreadSanitizer.
velkor_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELKOR_SANITIZE=thread -DVELKOR_BUILD_BENCH=OFF \
    -DVELKOR_THREADED_TESTS_ONLY=ON
(cd build-tsan && TSAN_OPTIONS="suppressions=$VELKOR_ROOT/tests/tsan.supp" \
    ctest --output-on-failure -L threaded --timeout 300 --no-tests=error --repeat until-pass:2)

# The XML document's fuzz target over its seed corpus, plus half a minute of
# fuzzing (a small clang build of the XML code only; new inputs go to a scratch folder).
cmake -S "$VELKOR_ROOT/settings/fuzz" -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz
fuzz_scratch=$(mktemp -d)
build-fuzz/fuzz_xml_doc -seed=1 -max_len=4096 -max_total_time=30 "$fuzz_scratch" "$VELKOR_ROOT/settings/fuzz/corpus"
rm -rf "$fuzz_scratch"
