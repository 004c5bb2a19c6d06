#!/bin/sh
# Installs and builds what the tests need, runs the whole test suite, then once more on a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh --tests
ctest --test-dir build --output-on-failure -j 2
cmake -S . -B build-asan -DSTRANDOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j "$(nproc)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j 2
