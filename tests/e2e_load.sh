#!/bin/bash
# Journals of interrupted publications, and 10,000 files at once.
. "$(dirname "$0")/lib.sh"

counter_conf "$WORK/strandor.conf"

# A worker killed between writing its output and publishing it leaves a journal; the next
# run of its input directory and shard finishes that work before it lists the input
# directory, whichever host wrote it. Leftovers of another shard or another input directory
# (another id in the lock file) stay. What a journal may ask is in tst_process; journals of
# published outputs and of archived inputs are finished in e2e_unlucky and e2e_trees.
new_case journal
printf '<d><v>1</v></d>' >"$CASE/input/a_20240101_0001.xml"
printf 0123456789ab >"$CASE/input/.strandor.0of1.lock"
tag=elsewhere.0of1.0123456789ab.4711 final=2401010001_E_v_.data
printf 't\tv\n240101 00:01\t1\n' >"$CASE/output/.$final.$tag.part"
printf '%s\0%s\0%s\0%s' 1 a_20240101_0001.xml ".$final.$tag.part" "$final" >"$CASE/output/.strandor.$tag.journal"
foreign=".strandor.elsewhere.0of1.ba9876543210.4711.journal .x.data.elsewhere.0of1.ba9876543210.4711.part .x.data.elsewhere.0of2.0123456789ab.4711.part"
for f in $foreign .y.data.there.0of1.0123456789ab.99.part; do : >"$CASE/output/$f"; done
run_strandor -c "$WORK/strandor.conf" -i "$CASE/input" -o "$CASE/output"
expect_run journal 0 "INFO: finished the interrupted conversion of $CASE/input//a_20240101_0001.xml" \
    "Info (0/0) Prozesse erfolgreich konvertiert"
expect_listing "journal: output" "$CASE/output" "$foreign $final"
expect_file "journal: output content" "$CASE/output/$final" 't\tv\n240101 00:01\t1\n'
expect_listing "journal: input removed" "$CASE/input" ""

# Load: 10,000 small files with two workers. Children that are not reaped stay as zombies and
# count among the parent's children.
N=${LOAD_FILES:-10000}
new_case load
corpus "$CASE/input" "$N" 3
"$STRANDOR" -c "$WORK/strandor.conf" -i "$CASE/input" -o "$CASE/output" -t 2 2>"$CASE/stderr" & parent=$!
max_children=0 fds_seen=""
while kill -0 $parent 2>/dev/null; do
    children=$(ps --ppid $parent -o pid= 2>/dev/null | wc -l)
    [ "$children" -gt "$max_children" ] && max_children=$children
    # Counted while the pool runs: the start-up opens the configuration and the listing,
    # and a sanitizer's leak check reads files at the end.
    fds=$(grep -q 'will execute' "$CASE/stderr" && ! grep -q 'Main Program terminated' "$CASE/stderr" &&
        ls /proc/$parent/fd 2>/dev/null | wc -l)
    [ "${fds:-0}" -gt 0 ] && fds_seen="$fds_seen $fds"
    sleep 0.05
done
wait $parent; STATUS=$?; strip_log "$CASE/stderr" >"$CASE/log"
expect_run "load" 0 "Info ($N/$N) Prozesse erfolgreich konvertiert"
[ "$(ls "$CASE/output" | wc -l)" -eq "$N" ] && [ -z "$(ls -A "$CASE/output" | grep '^\.')" ] && ok || fail "load: not $N outputs, or temporary files left"
expect_listing "load: inputs removed" "$CASE/input" ""
[ "$max_children" -le 2 ] && ok || fail "load: $max_children children at once (zombies or too many workers)"
fds_seen=$(echo $fds_seen | tr ' ' '\n' | sort -u | tr '\n' ' ')
[ "$(echo $fds_seen | wc -w)" -le 2 ] && ok || fail "load: the parent's open files changed: $fds_seen"
echo "load: $N files, at most $max_children children, parent file descriptors seen: $fds_seen"

finish
