#!/bin/bash
# Fuzzes each target for a given time with libFuzzer (clang):
#   fuzz/run.sh [SECONDS_PER_TARGET] [--merge]
# Seeds: the regression corpus in fuzz/corpus, the examples, the test cases and generated
# documents. Crashes land in build-fuzz/crashes; --merge adds new coverage to fuzz/corpus.
set -eu
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
MERGE=${2:-}
command -v clang++ >/dev/null || sh tools/setup.sh --tests
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DSTRANDOR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzz_config fuzz_extract -j "$(nproc)" >/dev/null
seeds=build-fuzz/seeds
rm -rf "$seeds" && mkdir -p "$seeds/config" "$seeds/extract" build-fuzz/crashes
cp examples/strandor.conf bench/bench.conf tests/regression/gen.conf "$seeds/config/"
for c in tests/cases/*/strandor.conf; do cp "$c" "$seeds/config/$(basename "$(dirname "$c")").conf"; done
for f in examples/input/* tests/cases/*/input/*.xml; do cp "$f" "$seeds/extract/"; done # cases share inputs
perl tests/regression/gen_docs.pl "$seeds/extract" 1 50
for target in config extract; do
    mkdir -p "build-fuzz/work-$target"
    echo "== $target, $SECONDS_PER_TARGET s"
    TMPDIR=/dev/shm TZ=Europe/Berlin "build-fuzz/fuzz/fuzz_$target" -max_total_time="$SECONDS_PER_TARGET" -close_fd_mask=2 \
        -timeout=20 -rss_limit_mb=4096 -max_len=65536 -artifact_prefix="build-fuzz/crashes/$target-" \
        "build-fuzz/work-$target" "fuzz/corpus/$target" "$seeds/$target" 2>&1 | grep -E '^(#[0-9]+ *DONE|Done|==|SUMMARY)' || true
    if [ "$MERGE" = --merge ]; then
        TZ=Europe/Berlin "build-fuzz/fuzz/fuzz_$target" -merge=1 -close_fd_mask=2 "fuzz/corpus/$target" \
            "build-fuzz/work-$target" 2>&1 | grep -E 'MERGE-OUTER: [0-9]+ new files' || true
    fi
done
ls build-fuzz/crashes
