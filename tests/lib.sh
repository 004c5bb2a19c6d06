# Shared helpers of the end-to-end tests: each test script sources this file,
# runs the real binary in a temporary directory and reports "N passed, N failed".
set -u
STRANDOR=${STRANDOR:?path of the strandor binary}
TESTS_DIR=$(cd "$(dirname "$0")" && pwd)
export LC_ALL=C.UTF-8 TZ=Europe/Berlin
PASSED=0
FAILED=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/strandor-test.XXXXXX")
trap 'chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT

ok()   { PASSED=$((PASSED + 1)); }
# skip WHY: a part that cannot run here says so; the suite lists it again at its end.
skip() { echo "SKIP: $*"; [ -z "${SKIPS:-}" ] || echo "$(basename "$0" .sh): $*" >>"$SKIPS"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $*" >&2; }

# The log without its "[pid] yyyy.MM.dd hh:mm:ss " prefixes.
strip_log() { sed -E 's/^\[[0-9]+\] [0-9]{4}\.[0-9]{2}\.[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} //' "$1"; }

# A fresh case directory with input/ and output/; sets CASE.
new_case() { CASE="$WORK/$1"; rm -rf "$CASE"; mkdir -p "$CASE/input" "$CASE/output"; }

# run_in_case COMMAND...: runs in $CASE, keeps stdout, stderr (and the stripped log) and status.
run_in_case() {
    ( cd "$CASE" && "$@" >"$CASE/stdout" 2>"$CASE/stderr" )
    STATUS=$?
    strip_log "$CASE/stderr" >"$CASE/log"
}
run_strandor() { run_in_case "$STRANDOR" "$@"; }

# wait_until COMMAND...: until COMMAND succeeds, for at most about ten seconds.
wait_until() { for _ in $(seq 1 1000); do "$@" && return; sleep 0.01; done; }
# started FILE COUNT: the log FILE shows COUNT workers at work.
started() { [ "$(grep -c 'processing file' "$1" 2>/dev/null)" -ge "$2" ]; }

# convert ARGS...: the usual run on $CASE's configuration, input and output.
convert() { run_strandor -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output" "$@"; }

expect_status() { if [ "$STATUS" -eq "$2" ]; then ok; else fail "$1: status $STATUS, expected $2"; fi; }

# expect_log NAME LINE...: the stripped log holds each LINE as a whole line.
expect_log() {
    local name=$1 line; shift
    for line in "$@"; do
        if grep -qxF -- "$line" "$CASE/log"; then ok; else
            fail "$name: log lacks line '$line'"; sed 's/^/    | /' "$CASE/log" | tail -20 >&2; fi
    done
}
expect_no_log() { if grep -qF -- "$2" "$CASE/log"; then fail "$1: log has '$2'"; else ok; fi; }

# expect_file NAME PATH CONTENT: the file holds exactly CONTENT (printf format).
expect_file() {
    printf "$3" >"$WORK/expected.tmp"
    if cmp -s "$2" "$WORK/expected.tmp"; then ok; else fail "$1: $2 differs"; diff "$WORK/expected.tmp" "$2" | head -10 >&2; fi
}

# expect_listing NAME DIR NAMES: the directory (hidden files included, shard locks not)
# holds exactly NAMES.
expect_listing() {
    local actual; actual=$(ls -A "$2" | grep -v '^\.strandor\..*\.lock$' | tr '\n' ' ' | sed 's/ $//')
    if [ "$actual" = "$3" ]; then ok; else fail "$1: $2 holds '$actual', expected '$3'"; fi
}

# expect_run NAME STATUS LINE...: the run's status, and each LINE in its log.
expect_run() { local name=$1; expect_status "$name" "$2"; shift 2; expect_log "$name" "$@"; }
# expect_failed NAME STATUS INPUTS LINE...: the status and log lines of a failed run that
# left its inputs (the names INPUTS) in place and nothing in the output directory.
expect_failed() {
    local name=$1 status=$2 inputs=$3
    shift 3
    expect_run "$name" "$status" "$@"
    expect_listing "$name leaves nothing" "$CASE/output" ""
    expect_listing "$name keeps its input" "$CASE/input" "$inputs"
}

# counter_conf FILE: one record per <v>, its file named by the input's stamp.
counter_conf() {
    printf '%s\n' 'GLOBALS { }' 'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY EVENT MATCH { NEEDS "v" }' \
        '  COLUMNS { UTC_FILESTAMP "t" ATTRIBUTE ( "v" ) "v" } } }' >"$1"
}
# corpus DIR COUNT SIZE [FIRST]: COUNT inputs of SIZE records, numbered from FIRST (1), each
# with a stamp of its own.
corpus() {
    mkdir -p "$1"
    perl -e 'use POSIX; my ($dir, $n, $size, $first) = @ARGV;
             for my $i ($first .. $first + $n - 1) {
                 my $name = strftime("f%05d_%Y%m%d_%H%M.xml", gmtime(946684800 + 60 * $i));
                 open(my $o, ">", "$dir/" . sprintf($name, $i)) or die; print $o "<d>", "<v>$i</v>" x $size, "</d>"; close $o; }' \
        "$1" "$2" "$3" "${4:-1}"
}

finish() { echo "$PASSED passed, $FAILED failed"; [ "$FAILED" -eq 0 ]; }
