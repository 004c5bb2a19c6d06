#!/bin/bash
# Throughput benchmark: strandor (-t 1, -t 2, and the QXmlSimpleReader-only build) against
# cat and xmllint --stream on generated measurement files.
#   bench/run.sh [--quick]     --quick leaves out the 1 GB file
# MB = 10^6 bytes. Each 10 MB figure is the best of three runs.
set -eu
cd "$(dirname "$0")/.."
QUICK=${1:-}
WORK=${BENCH_DIR:-build/bench}
command -v xmllint >/dev/null && [ -x /usr/bin/time ] || {
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libxml2-utils time >/dev/null; }
[ -x build/src/driver/strandor ] || sh tools/setup.sh
cmake --build build --target strandor strandor-qtreader -j "$(nproc)" >/dev/null
FAST=$PWD/build/src/driver/strandor
QT=$PWD/build/src/driver/strandor-qtreader
CONF=$PWD/bench/bench.conf

mkdir -p "$WORK/corpus/dir20"
gen() { [ -f "$3" ] || perl bench/gen_corpus.pl "$1" "$2" "$3"; }
gen 10000000 1 "$WORK/corpus/node0001_20111110_1345.xml"
for i in $(seq -w 1 20); do gen 10000000 $((100 + 10#$i)) "$WORK/corpus/dir20/node00${i}_20111110_${i}00.xml"; done
[ "$QUICK" = --quick ] || gen 1000000000 7 "$WORK/corpus/node0002_20111110_1400.xml"

now() { date +%s%N; }
# seconds COMMAND...: wall time of one run
seconds() { local t0; t0=$(now); "$@" >/dev/null 2>&1; echo "scale=4; ($(now) - $t0) / 1000000000" | bc; }
best() { local b=""; for _ in 1 2 3; do t=$("$@"); if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi; done; echo "$b"; }

# convert BINARY THREADS FILES...: runs strandor on hard links of the files, prints seconds
convert() {
    local bin=$1 threads=$2; shift 2
    rm -rf "$WORK/in" "$WORK/out"; mkdir -p "$WORK/in" "$WORK/out"
    ln "$@" "$WORK/in/"
    seconds "$bin" -c "$CONF" -i "$WORK/in" -o "$WORK/out" -t "$threads"
}
records() { cat "$WORK"/out/* | wc -l; }
peak_kb() {
    rm -rf "$WORK/in" "$WORK/out"; mkdir -p "$WORK/in" "$WORK/out"; ln "$2" "$WORK/in/"
    /usr/bin/time -f %M "$1" -c "$CONF" -i "$WORK/in" -o "$WORK/out" 2>&1 >/dev/null | tail -1
}
rate() { echo "scale=1; $1 / 1000000 / $2" | bc; }

report() { # NAME FILE REPEAT
    local file=$2 size; size=$(stat -c %s "$file")
    local run=best; [ "$3" = once ] && run=
    local t_cat t_lint t_fast t_qt n
    t_cat=$($run seconds cat "$file")
    t_lint=$($run seconds xmllint --stream --noout "$file")
    t_qt=$($run convert "$QT" 1 "$file")
    t_fast=$($run convert "$FAST" 1 "$file")
    n=$(($(records) - 1))
    echo "== $1: $(rate "$size" 1) MB, $n records"
    printf '  %-32s %8s s %9s MB/s\n' "cat" "$t_cat" "$(rate "$size" "$t_cat")"
    printf '  %-32s %8s s %9s MB/s\n' "xmllint --stream --noout" "$t_lint" "$(rate "$size" "$t_lint")"
    printf '  %-32s %8s s %9s MB/s %12s records/s\n' "strandor -t 1, QXmlSimpleReader" "$t_qt" "$(rate "$size" "$t_qt")" "$(echo "$n / $t_qt" | bc)"
    printf '  %-32s %8s s %9s MB/s %12s records/s\n' "strandor -t 1" "$t_fast" "$(rate "$size" "$t_fast")" "$(echo "$n / $t_fast" | bc)"
    echo "  strandor / xmllint --stream:        $(echo "scale=2; $t_lint / $t_fast" | bc)x"
    echo "  strandor / QXmlSimpleReader build:  $(echo "scale=2; $t_qt / $t_fast" | bc)x"
    echo "  peak memory strandor:               $(peak_kb "$FAST" "$file") KB"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
report "10 MB file" "$WORK/corpus/node0001_20111110_1345.xml" best

t1=$(convert "$FAST" 1 "$WORK"/corpus/dir20/*.xml)
t2=$(convert "$FAST" 2 "$WORK"/corpus/dir20/*.xml)
size=$(cat "$WORK"/corpus/dir20/*.xml | wc -c)
echo "== 20 files of 10 MB"
echo "  -t 1: $t1 s, $(rate "$size" "$t1") MB/s; -t 2: $t2 s, $(rate "$size" "$t2") MB/s; -t 2 / -t 1: $(echo "scale=2; $t1 / $t2" | bc)x"

[ "$QUICK" = --quick ] || report "1 GB file" "$WORK/corpus/node0002_20111110_1400.xml" once
rm -rf "$WORK/in" "$WORK/out"
