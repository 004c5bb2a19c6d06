#!/bin/sh
# Installs and builds what the tests need, runs the whole test suite, then once more on a
# build with AddressSanitizer and UndefinedBehaviorSanitizer. The last lines list what
# could not be tried on this machine.
set -e
cd "$(dirname "$0")/.."
# skipped BUILD: the parts of the suite that said they could not run there.
skipped() {
    if [ -s "$1/skipped.txt" ]; then echo "Skipped in $1:"; sed 's/^/  /' "$1/skipped.txt"; else echo "Nothing skipped in $1."; fi
}
sh tools/setup.sh --tests
rm -f build/skipped.txt build-asan/skipped.txt
ctest --test-dir build --output-on-failure -j 2 || { skipped build; exit 1; }
cmake -S . -B build-asan -DSTRANDOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j "$(nproc)"
status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j 2 || status=1
skipped build
skipped build-asan
exit $status
