#!/bin/bash
# What a file costs, for the current build and the landed build (the commit BENCH_BASE,
# default e0140c2, built once into build/bench/base) side by side, measured in the same run:
# the two binaries alternate, each figure is the median of three runs.
#   A  1,000 files of 200 KB, bench/five.conf, -t 1, in tmpfs, against the least the job
#      costs: libxml2's SAX2 reader with empty callbacks (bench/saxbatch.c) over the same
#      files in one process, plus writing the same output bytes in 1 MiB writes
#   B  tiny files (bench/tiny.conf, one record each), -t 2, in tmpfs: files/s, CPU ms and
#      minor page faults per file (the whole run, workers included) at 1,000 and 20,000
#      files (--quick: 5,000; BENCH_FULL=1 adds 100,000)
#   C  the CPU and faults per file of 1,000 tiny files, both builds and their ratio
#   D  syncs per converted file (strace, 100 tiny files, -t 2), and files/s on disk
#      (under build/bench) for 2,000 files of 130 KB, five.conf, -t 2
#   bench/per_file.sh [--quick]
set -eu
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
QUICK=${1:-}
REF=${BENCH_BASE:-e0140c2}
mkdir -p "${BENCH_DIR:-build/bench}"
WORK=$(cd "${BENCH_DIR:-build/bench}" && pwd)
missing=""
command -v strace >/dev/null || missing="$missing strace"
[ -x /usr/bin/time ] || missing="$missing time"
command -v pkg-config >/dev/null || missing="$missing pkg-config"
[ -f /usr/include/libxml2/libxml/parser.h ] || missing="$missing libxml2-dev"
[ -z "$missing" ] || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null; }

[ -x build/src/driver/strandor ] || sh tools/setup.sh
cmake --build build --target strandor -j "$(nproc)" >/dev/null
# The landed build: the tree of REF (git archive), configured as tools/setup.sh does.
base=$WORK/base
sha=$(git rev-parse --verify "$REF^{commit}")
if [ "$(cat "$base/commit" 2>/dev/null)" != "$sha" ] || [ ! -x "$base/build/src/driver/strandor" ]; then
    echo "building strandor of $REF into $base" >&2
    rm -rf "$base"; mkdir -p "$base/tree"
    git archive "$sha" | tar -x -C "$base/tree"
    cmake -S "$base/tree" -B "$base/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$base/build" --target strandor -j "$(nproc)" >/dev/null
    echo "$sha" >"$base/commit"
fi
# A copy, so that a rebuild during the run changes nothing.
cp build/src/driver/strandor "$WORK/strandor.current" && "$WORK/strandor.current" -v >/dev/null
declare -A BIN=([cur]=$WORK/strandor.current [base]=$base/build/src/driver/strandor) NAME=([cur]=current [base]=$REF)
SAX=$WORK/saxbatch
[ "$SAX" -nt bench/saxbatch.c ] ||
    cc -O2 bench/saxbatch.c $(pkg-config --cflags --libs libxml-2.0) -o "$SAX"

SHM=$(mktemp -d /dev/shm/strandor-bench.XXXXXX)
DISK=$WORK/disk
trap 'rm -rf "$SHM" "$DISK"' EXIT
trap 'exit 130' INT TERM

now() { date +%s%N; }
calc() { awk "BEGIN { printf \"%.$1f\", $2 }"; }    # calc DIGITS EXPRESSION
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
ROUNDS="cur,base base,cur cur,base"                 # alternating order, three rounds
# corpus DIR COUNT SIZE: COUNT files of about SIZE bytes with a quarter hour each, made once
corpus() {
    [ -f "$1.complete" ] && return
    rm -rf "$1"; mkdir -p "$1"
    perl -MPOSIX -e 'printf "%d %d %s/node%04d_%s.xml\n", $ARGV[2], $_, $ARGV[0], $_,
        strftime("%Y%m%d_%H%M", gmtime(1320932700 + 900 * $_)) for 1 .. $ARGV[1]' "$@" |
        xargs -n 3 -P "$(nproc)" perl bench/gen_corpus.pl
    touch "$1.complete"
}
# tiny DIR COUNT: COUNT inputs of one record each
tiny() {
    rm -rf "$1"; mkdir -p "$1"
    perl -e 'for (1 .. $ARGV[1]) { open(my $f, ">", sprintf("%s/x%06d_20240101_0001.xml", $ARGV[0], $_))
             or die "$!"; print $f qq{<d><r id="1"/></d>\n}; close($f) or die "$!" }' "$1" "$2"
}
# measure BUILD CONF SRC DIR THREADS: converts hard links of SRC's files in DIR/in into DIR/out;
# prints wall seconds, CPU seconds (user + sys) and minor page faults of the run
measure() {
    local dir=$4 t0 t1 user sys faults
    rm -rf "$dir/in" "$dir/out"; cp -al "$3" "$dir/in"; mkdir "$dir/out"
    sync
    t0=$(now)
    /usr/bin/time -o "$dir/time" -f '%U %S %R' "${BIN[$1]}" -c "$2" -i "$dir/in" -o "$dir/out" -t "$5" \
        >"$dir/log" 2>&1 || { cat "$dir/log" >&2; exit 1; }
    t1=$(now)
    [ -z "$(find "$dir/in" -mindepth 1 ! -name ".strandor.*" -print -quit)" ] || { echo "$1 left inputs in $dir/in" >&2; exit 1; }
    read -r user sys faults <"$dir/time"
    echo "$(calc 4 "($t1 - $t0) / 1e9") $(calc 4 "$user + $sys") $faults"
}
seconds() { local t0; t0=$(now); "$@"; calc 4 "($(now) - $t0) / 1e9"; }
out_bytes() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }
echo "== per file: current build $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- src || echo ' + uncommitted src'),"\
    "landed build $REF; medians of 3 alternating runs"

# A: a real-sized delivery against the least it costs.
corpus "$WORK/corpus/delivery" 1000 200000
mkdir -p "$SHM/a"; cp -r "$WORK/corpus/delivery" "$SHM/a/src"
declare -A conv write bytes; parse=""
for round in $ROUNDS; do
    for b in ${round/,/ }; do
        r=$(measure "$b" bench/five.conf "$SHM/a/src" "$SHM/a" 1); read -r wall _ _ <<<"$r"
        conv[$b]+=" $wall"; bytes[$b]=$(out_bytes "$SHM/a/out")
    done
    parse+=" $(seconds "$SAX" "$SHM"/a/src/*.xml)"
    for n in $(printf '%s\n' "${bytes[@]}" | sort -u); do     # once if both wrote as much
        write[$n]+=" $(seconds dd if=/dev/zero of="$SHM/a/written" bs=1M count="$n" iflag=count_bytes status=none)"
        rm "$SHM/a/written"
    done
done
p=$(median $parse)
echo "A  1,000 files, $(calc 1 "$(out_bytes "$SHM/a/src") / 1e6") MB, five.conf, -t 1, tmpfs"
printf '   %-10s %12s %12s %12s %14s %24s\n' build strandor_s parse_s write_s output_MB "strandor/(parse+write)"
for b in cur base; do
    c=$(median ${conv[$b]}); w=$(median ${write[${bytes[$b]}]})
    printf '   %-10s %12s %12s %12s %14s %24s\n' "${NAME[$b]}" "$c" "$p" "$w" \
        "$(calc 1 "${bytes[$b]} / 1e6")" "$(calc 2 "$c / ($p + $w)")"
done
rm -rf "$SHM/a"

# B and C: tiny files; the rate, CPU and faults per file as the count grows.
counts="1000 20000"; [ "$QUICK" != --quick ] || counts="1000 5000"
[ "${BENCH_FULL:-}" != 1 ] || counts="$counts 100000"
echo "B  tiny files (bench/tiny.conf), -t 2, tmpfs"
printf '   %-10s %8s %10s %12s %12s\n' build files files/s CPU_ms/file faults/file
declare -A rate cpu faults
for n in $counts; do
    tiny "$SHM/b/src" "$n"
    declare -A walls=() cpus=() flts=()
    for round in $ROUNDS; do
        for b in ${round/,/ }; do
            r=$(measure "$b" bench/tiny.conf "$SHM/b/src" "$SHM/b" 2); read -r wall c f <<<"$r"
            walls[$b]+=" $wall"; cpus[$b]+=" $c"; flts[$b]+=" $f"
        done
    done
    for b in cur base; do
        rate[$b,$n]=$(calc 0 "$n / $(median ${walls[$b]})")
        cpu[$b,$n]=$(calc 3 "$(median ${cpus[$b]}) * 1000 / $n")
        faults[$b,$n]=$(calc 1 "$(median ${flts[$b]}) / $n")
        printf '   %-10s %8s %10s %12s %12s\n' "${NAME[$b]}" "$n" "${rate[$b,$n]}" "${cpu[$b,$n]}" "${faults[$b,$n]}"
    done
done
rm -rf "$SHM/b"
last=${counts##* }
echo "   rate at $last / rate at 1000: current $(calc 2 "${rate[cur,$last]} / ${rate[cur,1000]}")," \
    "$REF $(calc 2 "${rate[base,$last]} / ${rate[base,1000]}")"
echo "C  1,000 tiny files: CPU ms/file current ${cpu[cur,1000]}, $REF ${cpu[base,1000]}" \
    "($(calc 2 "${cpu[cur,1000]} / ${cpu[base,1000]}")x); minor faults/file current ${faults[cur,1000]}," \
    "$REF ${faults[base,1000]} ($(calc 2 "${faults[cur,1000]} / ${faults[base,1000]}")x)"

# D: syncs per converted file, and what they cost on a disk.
tiny "$SHM/d/src" 100
declare -A syncs
for b in cur base; do
    rm -rf "$SHM/d/in" "$SHM/d/out"; cp -al "$SHM/d/src" "$SHM/d/in"; mkdir "$SHM/d/out"
    strace -f -c -o "$SHM/d/strace" -e trace=fsync,fdatasync,syncfs \
        "${BIN[$b]}" -c bench/tiny.conf -i "$SHM/d/in" -o "$SHM/d/out" -t 2 >"$SHM/d/log" 2>&1 ||
        { cat "$SHM/d/log" >&2; exit 1; }
    syncs[$b]=$(awk '$NF ~ /^(fsync|fdatasync|syncfs)$/ { n += $4 } END { print n / 100 }' "$SHM/d/strace")
done
rm -rf "$SHM/d"
corpus "$WORK/corpus/disk" 2000 130000
mkdir -p "$DISK"; cp -al "$WORK/corpus/disk" "$DISK/src"
declare -A dwalls
for round in $ROUNDS; do
    for b in ${round/,/ }; do
        r=$(measure "$b" bench/five.conf "$DISK/src" "$DISK" 2); read -r wall _ _ <<<"$r"
        dwalls[$b]+=" $wall"
    done
done
rc=$(calc 0 "2000 / $(median ${dwalls[cur]})"); rb=$(calc 0 "2000 / $(median ${dwalls[base]})")
echo "D  syncs per converted file (100 tiny files, -t 2): current ${syncs[cur]}, $REF ${syncs[base]}"
echo "   2,000 files of 130 KB on disk, five.conf, -t 2: current $rc files/s, $REF $rb files/s ($(calc 2 "$rc / $rb")x)"
