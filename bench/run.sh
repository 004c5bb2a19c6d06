#!/bin/bash
# Throughput benchmark: strandor (-t 1, -t 2) against cat and xmllint --stream on generated
# measurement files, and on the same 10 MB file with CRLF line ends, a DOCTYPE line,
# re-encoded as ISO-8859-1 and gzip-compressed. Ratios are taken within one run.
#   bench/run.sh [--quick]     --quick leaves out the 1 GB file
#   BENCH_PART=formats bench/run.sh   only the output formats and -D
#   BENCH_PART=per_file bench/run.sh  only bench/per_file.sh: what a file costs, this build
#                                     against the landed one (BENCH_BASE=<ref>, default e0140c2)
# MB = 10^6 bytes. Each 10 MB figure is the best of three runs.
set -eu
cd "$(dirname "$0")/.."
QUICK=${1:-}
WORK=${BENCH_DIR:-build/bench}
command -v xmllint >/dev/null && [ -x /usr/bin/time ] || {
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libxml2-utils time >/dev/null; }
[ -x build/src/driver/strandor ] || sh tools/setup.sh
cmake --build build --target strandor -j "$(nproc)" >/dev/null
FAST=$PWD/build/src/driver/strandor
CONF=$PWD/bench/bench.conf
[ "${BENCH_PART:-}" != per_file ] || exec bash bench/per_file.sh "$QUICK"

mkdir -p "$WORK/corpus/dir20" "$WORK/corpus/one_mb"
gen() { [ -f "$3" ] || perl bench/gen_corpus.pl "$@"; }
gen 10000000 1 "$WORK/corpus/node0001_20111110_1345.xml"
for i in $(seq -w 1 20); do gen 10000000 $((100 + 10#$i)) "$WORK/corpus/dir20/node00${i}_20111110_${i}00.xml"; done
[ "$QUICK" = --quick ] || gen 1000000000 7 "$WORK/corpus/node0002_20111110_1400.xml"
# The same 10 MB file in the forms that older readers took a slow path for.
PLAIN=$WORK/corpus/node0001_20111110_1345.xml
mkdir -p "$WORK/variants"
[ -f "$WORK/variants/crlf_20111110_1345.xml" ] || perl -pe 's/\n/\r\n/' "$PLAIN" >"$WORK/variants/crlf_20111110_1345.xml"
[ -f "$WORK/variants/doctype_20111110_1345.xml" ] || perl -pe 'print qq{<!DOCTYPE mdc SYSTEM "MeasDataCollection.dtd">\n} if $. == 2' \
    "$PLAIN" >"$WORK/variants/doctype_20111110_1345.xml"
[ -f "$WORK/variants/latin1_20111110_1345.xml" ] || perl -pe 's/encoding="UTF-8"/encoding="ISO-8859-1"/ if $. == 1' \
    "$PLAIN" | iconv -f UTF-8 -t ISO-8859-1 >"$WORK/variants/latin1_20111110_1345.xml"
[ -f "$WORK/variants/gzip_20111110_1345.xml" ] || gzip -6nc "$PLAIN" >"$WORK/variants/gzip_20111110_1345.xml"

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
# convert_with CONF FILE: strandor -t 1 with that configuration, prints seconds
convert_with() {
    rm -rf "$WORK/in" "$WORK/out"; mkdir -p "$WORK/in" "$WORK/out"
    ln "$2" "$WORK/in/"
    seconds "$FAST" -c "$1" -i "$WORK/in" -o "$WORK/out" -t 1
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
    local t_cat t_lint t_fast n
    t_cat=$($run seconds cat "$file")
    t_lint=$($run seconds xmllint --stream --noout "$file")
    t_fast=$($run convert "$FAST" 1 "$file")
    n=$(($(records) - 1))
    echo "== $1: $(rate "$size" 1) MB, $n records"
    printf '  %-28s %8s s %9s MB/s\n' "cat" "$t_cat" "$(rate "$size" "$t_cat")"
    printf '  %-28s %8s s %9s MB/s\n' "xmllint --stream --noout" "$t_lint" "$(rate "$size" "$t_lint")"
    printf '  %-28s %8s s %9s MB/s %12s records/s\n' "strandor -t 1" "$t_fast" "$(rate "$size" "$t_fast")" "$(echo "$n / $t_fast" | bc)"
    echo "  strandor / xmllint --stream: $(echo "scale=2; $t_lint / $t_fast" | bc)x"
    echo "  peak memory strandor:        $(peak_kb "$FAST" "$file") KB"
    LAST=$t_fast
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

# Output formats on the 10 MB file: TSV and CSV against TEXT, gzip outputs against plain
# ones, and -D into a private PostgreSQL server against writing files.
formats() {
    local conf=$WORK/formats.conf t_text t
    sed 's/^GLOBALS {/GLOBALS { FILE_MASK "%3_%5.out"/' "$CONF" >"$conf"
    t_text=$(best convert_with "$conf" "$PLAIN")
    local n=$(($(records) - 1))
    echo "== output formats, 10 MB file, $n records: TEXT $t_text s"
    for variant in "TSV|.out" "CSV|.out" "TEXT|.out.gz" "TSV|.out.gz"; do
        sed "s/^GLOBALS {/GLOBALS { OUTPUT_FORMAT ${variant%|*} FILE_MASK \"%3_%5${variant#*|}\"/" "$CONF" >"$conf"
        t=$(best convert_with "$conf" "$PLAIN")
        echo "  ${variant%|*} ${variant#*|}: $t s, $(echo "scale=2; $t / $t_text" | bc)x the time of TEXT, $(cat "$WORK"/out/* | wc -c) bytes"
    done
    [ -d /usr/lib/postgresql ] || { echo "  -D: no PostgreSQL server installed (package postgresql)"; return; }
    skip() { echo "  -D: $*"; }
    fail() { echo "  -D: $*" >&2; }
    . tests/pg.sh
    pg_start || return 0
    load() {
        psql_q "SET client_min_messages = warning; DROP TABLE IF EXISTS counters, strandor_files"
        rm -rf "$WORK/in"; mkdir -p "$WORK/in"; ln "$PLAIN" "$WORK/in/"
        seconds "$FAST" -c "$CONF" -i "$WORK/in" -D "dbname=postgres" -C -t 1
    }
    t=$(best load)
    echo "  -D into PostgreSQL (local socket, fsync off): $t s, $(echo "$n / $t" | bc) records/s;" \
        "files $(echo "$n / $t_text" | bc) records/s: $(echo "scale=2; $t / $t_text" | bc)x the time"
    pg_cleanup
}
formats
[ "${BENCH_PART:-}" != formats ] || exit 0
report "10 MB file" "$PLAIN" best
plain=$LAST
for variant in crlf doctype latin1 gzip; do
    t=$(best convert "$FAST" 1 "$WORK/variants/${variant}_20111110_1345.xml")
    echo "== 10 MB file, $variant: $t s, speed $(echo "scale=2; $plain / $t" | bc)x of the plain file"
done
if [ "$QUICK" != --quick ]; then
    big=$WORK/corpus/node0002_20111110_1400.xml
    [ -f "$WORK/variants/gzip_20111110_1400.xml" ] || gzip -6nc "$big" >"$WORK/variants/gzip_20111110_1400.xml"
    t_plain=$(convert "$FAST" 1 "$big")
    t_gzip=$(convert "$FAST" 1 "$WORK/variants/gzip_20111110_1400.xml")
    echo "== 1 GB file: plain $t_plain s, gzip-compressed $t_gzip s: $(echo "scale=2; $t_gzip / $t_plain" | bc)x the time"
fi

t1=$(convert "$FAST" 1 "$WORK"/corpus/dir20/*.xml)
t2=$(convert "$FAST" 2 "$WORK"/corpus/dir20/*.xml)
size=$(cat "$WORK"/corpus/dir20/*.xml | wc -c)
echo "== 20 files of 10 MB"
echo "  -t 1: $t1 s, $(rate "$size" "$t1") MB/s; -t 2: $t2 s, $(rate "$size" "$t2") MB/s; -t 2 / -t 1: $(echo "scale=2; $t1 / $t2" | bc)x"

# Many small files, as a quarter hour delivers them: 1,000 files of 200 KB, one instance
# with -t 2 against two shard instances with -t 1 each, on the same cores.
small=$WORK/corpus/small/node0000_20111110_1345.xml
mkdir -p "$WORK/corpus/small"
gen 200000 5 "$small"
many() { # THREADS SHARDS: seconds of SHARDS instances at once over hard links of the small file
    rm -rf "$WORK/in" "$WORK/out"; mkdir -p "$WORK/in" "$WORK/out"
    perl -e 'use POSIX; for (1 .. 1000) { link $ARGV[0], sprintf("%s/node%04d_%s.xml", $ARGV[1], $_,
             strftime("%Y%m%d_%H%M", gmtime(1320932700 + 900 * $_))) or die "$!" }' \
        "$small" "$WORK/in"
    local t0; t0=$(now)
    for k in $(seq 0 $(($2 - 1))); do "$FAST" -c "$CONF" -i "$WORK/in" -o "$WORK/out" -t "$1" -s "$k/$2" 2>/dev/null & done
    wait
    echo "scale=3; ($(now) - $t0) / 1000000000" | bc
}
t_one=$(many 2 1)
t_two=$(many 1 2)
echo "== 1000 files of 200 KB: one instance -t 2 $t_one s ($(echo "1000 / $t_one" | bc) files/s, $(rate 200000000 "$t_one") MB/s);" \
    "two shard instances -t 1 $t_two s: $(echo "scale=2; $t_one / $t_two" | bc)x"

# Tiny files in tmpfs, -t 2: the rate at 100,000 files stays that of 1,000, since a worker's
# end costs nothing in proportion to the listing.
files_rate() { # COUNT: files per second
    local dir=/dev/shm/strandor-bench t0
    rm -rf "$dir"; mkdir -p "$dir/in" "$dir/out"
    printf '%s\n' 'GLOBALS { FILE_MASK "%5.data" }' 'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "v"' \
        'GRANULARITY EVENT MATCH { NEEDS "v" } COLUMNS { ATTRIBUTE ( "v" ) "v" } } }' >"$dir/tiny.conf"
    perl -e 'for (1 .. $ARGV[1]) { open(my $f, ">", sprintf("%s/f%06d_20111110_1345.xml", $ARGV[0], $_)) or die;
             print $f "<d><v>$_</v></d>" }' "$dir/in" "$1"
    t0=$(now)
    "$FAST" -c "$dir/tiny.conf" -i "$dir/in" -o "$dir/out" -t 2 2>/dev/null
    echo "$1 * 1000000000 / ($(now) - $t0)" | bc
    rm -rf "$dir"
}
r1=$(files_rate 1000)
r100=$(files_rate 100000)
echo "== tiny files, -t 2: 1,000 at $r1 files/s, 100,000 at $r100 files/s ($(echo "scale=2; $r100 / $r1" | bc)x)"

# Instructions of the worker per input byte (deterministic), on a 1 MB file, plain and gzipped.
if command -v valgrind >/dev/null; then
    one=$WORK/corpus/one_mb/node0003_20111110_1345.xml
    gen 1000000 3 "$one"
    mkdir -p "$WORK/corpus/one_mb_gz"
    gzip -6nc "$one" >"$WORK/corpus/one_mb_gz/node0003_20111110_1345.xml"
    # worker_instructions DIR [CONF]: the largest instruction count of the processes of one run
    worker_instructions() {
        rm -rf "$WORK/cg" && mkdir -p "$WORK/cg/out"
        valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$WORK/cg/cg.%p" \
            "$FAST" -c "${2:-$CONF}" -i "$1" -o "$WORK/cg/out" -d 1 >/dev/null 2>&1
        for f in "$WORK"/cg/cg.*; do grep -m1 '^summary:' "$f" | cut -d' ' -f2; done | sort -n | tail -1
    }
    worker=$(worker_instructions "$WORK/corpus/one_mb")
    gzipped=$(worker_instructions "$WORK/corpus/one_mb_gz")
    echo "== callgrind: worker $worker instructions, $(echo "scale=1; $worker / $(stat -c %s "$one")" | bc) per input byte;" \
        "gzipped $gzipped, $(echo "scale=2; $gzipped / $worker" | bc)x"
    # Counter names: looked up by position (MAPATTRIBUTE) on the same file, and paired from
    # lists on the same data in the list form; heap allocations of the worker do not grow
    # with the records (files of 1 and 2 MB).
    mkdir -p "$WORK/corpus/lists_1" "$WORK/corpus/lists_2" "$WORK/corpus/one_mb_2"
    gen 1000000 3 "$WORK/corpus/lists_1/node0003_20111110_1345.xml" lists
    gen 2000000 3 "$WORK/corpus/lists_2/node0003_20111110_1345.xml" lists
    gen 2000000 3 "$WORK/corpus/one_mb_2/node0003_20111110_1345.xml"
    named=$(worker_instructions "$WORK/corpus/one_mb" "$PWD/bench/named.conf")
    lists=$(worker_instructions "$WORK/corpus/lists_1" "$PWD/bench/named.conf")
    allocations() { rm -rf "$WORK/out" && mkdir -p "$WORK/out"
        valgrind --trace-children=yes "$FAST" -c bench/named.conf -i "$1" -o "$WORK/out" -d 1 2>&1 |
            sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' | tr -d , | sort -n | tail -1; }
    echo "== counter names: by position $named instructions ($(echo "scale=2; $named / $worker" | bc)x plain)," \
        "from lists $lists; worker heap allocations 1 MB / 2 MB: by position $(allocations "$WORK/corpus/one_mb")" \
        "/ $(allocations "$WORK/corpus/one_mb_2"), lists $(allocations "$WORK/corpus/lists_1") / $(allocations "$WORK/corpus/lists_2")"
    # Five columns of the usual kinds: the time stamp, three attributes and a value.
    five=$(worker_instructions "$WORK/corpus/one_mb" "$PWD/bench/five.conf")
    t_five=$(best convert_with "$PWD/bench/five.conf" "$PLAIN")
    t_lint=$(best seconds xmllint --stream --noout "$PLAIN")
    echo "== five columns: worker $five instructions on 1 MB; 10 MB file $t_five s," \
        "$(echo "scale=2; $t_lint / $t_five" | bc)x xmllint --stream"
    # The listing: 20,000 files that no worker gets, either of another shard or too young (-a).
    rm -rf "$WORK/in" "$WORK/out"; mkdir -p "$WORK/in" "$WORK/out"
    (cd "$WORK/in" && seq -f "node%05g_20111110_1345.xml" 1 20000 | xargs touch)
    listing() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$FAST" -c "$CONF" -i "$WORK/in" -o "$WORK/out" "$@" 2>&1 |
        sed -n 's/.*refs: *//p' | tr -d ,; }
    shards=$(listing -s 0/1000000)
    young=$(listing -a 3600)
    echo "== listing 20,000 files: none of the shard $shards instructions; all younger than -a $young ($(echo "scale=2; $young / $shards" | bc)x)"
fi

[ "$QUICK" = --quick ] || report "1 GB file" "$WORK/corpus/node0002_20111110_1400.xml" once
rm -rf "$WORK/in" "$WORK/out"
bash bench/per_file.sh "$QUICK"
