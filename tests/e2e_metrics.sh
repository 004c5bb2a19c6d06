#!/bin/bash
# Files still being delivered (-a) and the metrics of a run (-m), read with the Prometheus
# client's own parser.
. "$(dirname "$0")/lib.sh"

# samples FILE: each sample of the metrics file as "name label=value... value"; every
# family must be a documented gauge.
samples() {
    /usr/bin/python3 -c 'import sys
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(open(sys.argv[1]).read()):
    assert family.type == "gauge" and family.documentation, family.name
    for s in family.samples:
        print(s.name, *("%s=%s" % l for l in sorted(s.labels.items())), s.value)' "$1"
}
# expect_samples NAME FILE LINE...: the samples of FILE that the lines name are exactly these.
expect_samples() {
    local name=$1 file=$2 actual; shift 2
    actual=$(samples "$file" | grep -v -e _seconds -e '^$') || { fail "$name: unparsable $file"; return; }
    if [ "$actual" = "$(printf '%s\n' "$@")" ]; then ok; else fail "$name: samples"; diff <(printf '%s\n' "$@") <(echo "$actual") >&2; fi
}
# times_sane NAME FILE BEFORE AFTER: the run ended between BEFORE and AFTER and lasted no longer.
times_sane() {
    samples "$2" | awk -v b="$3" -v a="$4" '/_end_timestamp_/ { e = $NF } / strandor_run_seconds|^strandor_run_seconds/ { d = $NF }
        END { exit !(e >= b && e <= a && d >= 0 && d <= a - b) }' && ok || fail "$1: end time or duration"
}
files() { printf 'strandor_files result=%s shard=%s %s.0\n' converted "$1" "$2" failed "$1" "$3" no_description "$1" "$4" left_for_next_run "$1" "$5"; }

# Three files to convert, one malformed, one that no description matches, and two still
# being delivered: one just written, one stamped in the future by a skewed clock.
new_case delivery
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 3 2
printf '<d><v>' >"$CASE/input/broken_20240101_0100.xml"
printf 'x\n' >"$CASE/input/README.txt"
old=$(($(date +%s) - 120))
touch -d "@$old" "$CASE"/input/*
bytes=$(cat "$CASE"/input/* | wc -c)
printf '<d><v>7</v></d>' >"$CASE/input/new_20240101_0200.xml"
printf '<d><v>8</v></d>' >"$CASE/input/skewed_20240101_0300.xml"
touch -d "@$(($(date +%s) + 3600))" "$CASE/input/skewed_20240101_0300.xml"
before=$(date +%s.%N)
convert -a 60 -m "$CASE/run.prom"
after=$(date +%s.%N)
expect_run "-a 60" 1 "INFO: minimum age: <60 s>" "INFO: metrics file: <$CASE/run.prom>" "Info (3/5) Prozesse erfolgreich konvertiert"
expect_no_log "-a 60 at -d 0" "younger"
expect_listing "-a 60 leaves the young" "$CASE/input" "README.txt broken_20240101_0100.xml new_20240101_0200.xml skewed_20240101_0300.xml"
expect_samples "-m" "$CASE/run.prom" "$(files 0/1 3 1 1 2)" "strandor_input_bytes shard=0/1 $bytes.0" "strandor_exit_status shard=0/1 1.0"
times_sane "-m" "$CASE/run.prom" "$before" "$after"
expect_listing "-m leaves no temporary file" "$CASE" "input log output run.prom stderr stdout strandor.conf"

# At debug level 1 each young file is named; an age under a minute counts, and -a 0 takes all.
rm "$CASE"/input/[Rb]*
touch -d "@$(($(date +%s) - 30))" "$CASE/input/new_20240101_0200.xml"
convert -a 4294967295 -d 1 -s 0/1 -m "$CASE/run.prom"
expect_run "-d 1" 0 "INFO: new_20240101_0200.xml is younger than 4294967295 s - left for the next run" \
    "INFO: skewed_20240101_0300.xml is younger than 4294967295 s - left for the next run" "Info (0/0) Prozesse erfolgreich konvertiert"
expect_samples "-m, nothing old enough" "$CASE/run.prom" "$(files 0/1 0 0 0 2)" "strandor_input_bytes shard=0/1 0.0" "strandor_exit_status shard=0/1 0.0"
convert -a 29 -m "$CASE/run.prom"
expect_no_log "-a 29" "younger"
grep -q "processing file = new_" "$CASE/log" && ok || fail "-a 29 takes a file of 30 s"
convert -m "$CASE/run.prom"
expect_run "-a 0" 0 "Info (1/1) Prozesse erfolgreich konvertiert"
expect_listing "-a 0" "$CASE/input" ""

# Runs that end early still leave their figures, with their status.
printf 'GLOBALS {' >"$CASE/bad.conf"
run_strandor -c "$CASE/bad.conf" -m "$CASE/run.prom"
expect_samples "configuration error" "$CASE/run.prom" "$(files 0/1 0 0 0 0)" "strandor_input_bytes shard=0/1 0.0" "strandor_exit_status shard=0/1 6.0"
convert -i "$CASE/nowhere" -s 3/4 -m "$CASE/run.prom"
expect_samples "missing input" "$CASE/run.prom" "$(files 3/4 0 0 0 0)" "strandor_input_bytes shard=3/4 0.0" "strandor_exit_status shard=3/4 1.0"

# A metrics file that cannot be written at the end fails a run that would have succeeded.
rm "$CASE/run.prom"
run_in_case bash -c 'set -o pipefail; (trap "" XFSZ; ulimit -f 0; exec "$@") 2>&1 | cat >&2' - \
    "$STRANDOR" -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output" -m "$CASE/run.prom"
expect_run "metrics not written" 1 "ERROR: could not write metrics file $CASE/run.prom: File too large"
expect_listing "metrics not written" "$CASE" "bad.conf input log output stderr stdout strandor.conf"

# Bad values end like any bad option, before anything is touched.
for age in -1 abc "" 1.5 " 5" +5 4294967296; do
    run_strandor -a "$age" -m "$CASE/run.prom"
    expect_run "-a '$age'" 4 "ERROR: minimum age must be a whole number of seconds" "ERROR: aborting program"
done
for target in "nowhere/run.prom|No such file or directory" "|No such file or directory" "output|Is a directory" \
    "strandor.conf/run.prom|Not a directory"; do
    run_strandor -m "${target%|*}"
    expect_run "-m '${target%|*}'" 4 "ERROR: metrics file ${target%|*} cannot be written: ${target#*|}" "ERROR: aborting program"
done
expect_listing "bad values touch nothing" "$CASE" "bad.conf input log output stderr stdout strandor.conf"
finish
