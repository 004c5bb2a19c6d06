#!/bin/bash
# Files still being delivered (-a) and the metrics of a run (-m), read with the Prometheus
# client's own parser.
. "$(dirname "$0")/lib.sh"

# expect_metrics NAME SHARD CONVERTED FAILED NO_DESCRIPTION LEFT BYTES STATUS [QUARANTINED [EMPTY
# RECORDS OUTPUT_BYTES]]: the samples of $CASE/run.prom, every family a documented gauge, the run
# ended within the last minute.
expect_metrics() {
    local name=$1 actual expected; shift
    actual=$(/usr/bin/python3 -c 'import sys, time
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(open(sys.argv[1]).read()):
    assert family.type == "gauge" and family.documentation, family.name
    for s in family.samples:
        v = {"strandor_run_seconds": 0 <= s.value < 60, "strandor_run_end_timestamp_seconds": abs(time.time() - s.value) < 60}
        print(s.name, ",".join("%s=%s" % l for l in sorted(s.labels.items())), v.get(s.name, s.value))' "$CASE/run.prom" 2>&1)
    expected=$(printf 'strandor_files result=%s,shard=%s %s.0\n' converted $1 $2 failed $1 $3 no_description $1 $4 left_for_next_run $1 $5 \
            quarantined $1 ${8:-0} empty $1 ${9:-0}
        printf '%s shard=%s %s\n' strandor_input_bytes $1 $6.0 strandor_records_total $1 ${10:-0}.0 strandor_output_bytes_total $1 ${11:-0}.0 \
            strandor_run_seconds $1 True strandor_run_end_timestamp_seconds $1 True strandor_exit_status $1 $7.0)
    [ "$actual" = "$expected" ] && ok || { fail "$name: metrics"; diff <(echo "$expected") <(echo "$actual") >&2; }
}

# Three files to convert, one malformed, one that no description matches, and two still
# being delivered: one just written, one stamped in the future by a skewed clock.
new_case delivery
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 3 2
printf '<d><v>' >"$CASE/input/broken_20240101_0100.xml"
printf 'x\n' >"$CASE/input/README.txt"
touch -d "@$(($(date +%s) - 120))" "$CASE"/input/*
bytes=$(cat "$CASE"/input/* | wc -c)
printf '<d><v>7</v></d>' >"$CASE/input/new_20240101_0200.xml"
printf '<d><v>8</v></d>' >"$CASE/input/skewed_20240101_0300.xml"
touch -d "@$(($(date +%s) + 3600))" "$CASE/input/skewed_20240101_0300.xml"
mkdir "$WORK/quarantine"
convert -a 60 -m "$CASE/run.prom" -e "$WORK/quarantine"
expect_run "-a 60" 1 "INFO: minimum age: <60 s>" "INFO: metrics file: <$CASE/run.prom>" "Info (3/5) Prozesse erfolgreich konvertiert"
expect_log "-a 60 at -d 0" "INFO: 2 files are younger than 60 s and wait for the next run"
[ "$(grep -c younger "$CASE/log")" = 1 ] && ok || fail "-a 60 at -d 0: young files said more than once"
expect_listing "-a 60 leaves the young" "$CASE/input" "new_20240101_0200.xml skewed_20240101_0300.xml"
expect_metrics "-m" 0/1 3 1 1 2 "$bytes" 1 2 0 6 "$(cat "$CASE"/output/* | wc -c)"

# At debug level 1 each young file is named; an age of 30 s is enough for -a 29.
touch -d "@$(($(date +%s) - 30))" "$CASE/input/new_20240101_0200.xml"
convert -a 4294967295 -d 1 -m "$CASE/run.prom"
expect_run "-d 1" 0 "INFO: new_20240101_0200.xml is younger than 4294967295 s - left for the next run" \
    "INFO: skewed_20240101_0300.xml is younger than 4294967295 s - left for the next run" "Info (0/0) Prozesse erfolgreich konvertiert"
expect_no_log "-d 1 names the files instead" "wait for the next run"
expect_metrics "-m, nothing old enough" 0/1 0 0 0 2 0 0
convert -a 29
expect_run "-a 29" 0 "INFO: processing file = new_20240101_0200.xml" "Info (1/1) Prozesse erfolgreich konvertiert"

# Runs that end early still leave their figures, with their status.
printf 'GLOBALS {' >"$CASE/bad.conf"
run_strandor -c "$CASE/bad.conf" -m "$CASE/run.prom"
expect_metrics "configuration error" 0/1 0 0 0 0 0 6
convert -i "$CASE/nowhere" -s 3/4 -m "$CASE/run.prom"
expect_metrics "missing input" 3/4 0 0 0 0 0 1

# A metrics file that cannot be written at the end fails a run that would have succeeded.
rm "$CASE/run.prom"
run_in_case bash -c 'set -o pipefail; (trap "" XFSZ; ulimit -f 0; exec "$@") 2>&1 | cat >&2' - \
    "$STRANDOR" -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output" -m "$CASE/run.prom"
expect_run "metrics not written" 1 "ERROR: could not write metrics file $CASE/run.prom: File too large"

# A file that gives no record is converted, and counted as empty. A run refused as busy
# leaves the metrics of the run that holds the lock alone.
new_case empty
counter_conf "$CASE/strandor.conf"
printf '<d/>' >"$CASE/input/e_20240101_0001.xml"
printf '<d><v>1</v></d>' >"$CASE/input/f_20240101_0002.xml"
convert -m "$CASE/run.prom"
expect_metrics "empty" 0/1 2 0 0 0 19 0 0 1 1 "$(cat "$CASE"/output/* | wc -c)"
python3 -c 'import fcntl, sys, time; f = open(sys.argv[1], "r+"); fcntl.lockf(f, fcntl.LOCK_EX)
open(sys.argv[1] + ".held", "w").close(); time.sleep(60)' "$CASE/input/.strandor.0of1.lock" & holder=$!
wait_until test -e "$CASE/input/.strandor.0of1.lock.held"
before=$(md5sum <"$CASE/run.prom")
convert -m "$CASE/run.prom"
expect_status "busy" 3
[ "$(md5sum <"$CASE/run.prom")" = "$before" ] && ok || fail "busy: the metrics file changed"
kill $holder; wait $holder 2>/dev/null

# A run told to stop stops its workers (stopped ones too), keeps their inputs, leaves nothing
# in the output directory, and records the signal.
new_case stopped
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 2 3000000
( cd "$CASE" && exec "$STRANDOR" -c strandor.conf -i input -o output -t 2 -m run.prom 2>stderr ) &
wait_until started "$CASE/stderr" 2
pkill -STOP -P $! && kill -TERM $!
wait $!; STATUS=$?; strip_log "$CASE/stderr" >"$CASE/log"
expect_failed "SIGTERM" 143 "f00001_20000101_0001.xml f00001_20000101_0002.xml" \
    "ERROR: stopped by signal 15 - stopping 2 workers" "Info (0/2) Prozesse erfolgreich konvertiert"
expect_metrics "SIGTERM" 0/1 0 2 0 0 "$(cat "$CASE"/input/f* | wc -c)" 143
finish
