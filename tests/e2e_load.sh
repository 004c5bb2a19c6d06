#!/bin/bash
# Journals of interrupted publications, and 10,000 files at once.
. "$(dirname "$0")/lib.sh"

counter_conf "$WORK/strandor.conf"

# A worker killed between publishing its output and removing its input leaves a journal;
# the next run of its input directory and shard finishes that work before it lists the
# input directory, whichever host wrote it. Leftovers of another shard or another input
# directory (another id in the lock file) stay. An input to archive goes to the archive.
for variant in moved-none moved-all archived; do
    new_case "journal-$variant"
    counter_conf "$CASE/strandor.conf"
    printf '<d><v>1</v></d>' >"$CASE/input/a_20240101_0001.xml"
    printf 0123456789ab >"$CASE/input/.strandor.0of1.lock"
    tag=elsewhere.0of1.0123456789ab.4711
    final=2401010001_E_v_.data
    printf 't\tv\n240101 00:01\t1\n' >"$CASE/output/$final"
    [ $variant = moved-none ] && mv "$CASE/output/$final" "$CASE/output/.$final.$tag.part"
    fate=1
    [ $variant = archived ] && fate=a../archive && mkdir "$CASE/archive"
    printf '%s\0%s\0%s\0%s' $fate a_20240101_0001.xml ".$final.$tag.part" "$final" >"$CASE/output/.strandor.$tag.journal"
    foreign=".strandor.elsewhere.0of1.ba9876543210.4711.journal .x.data.elsewhere.0of1.ba9876543210.4711.part .x.data.elsewhere.0of2.0123456789ab.4711.part"
    for f in $foreign .y.data.there.0of1.0123456789ab.99.part; do : >"$CASE/output/$f"; done
    convert
    expect_run "journal $variant" 0 "INFO: finished the interrupted conversion of $CASE/input//a_20240101_0001.xml" \
        "Info (0/0) Prozesse erfolgreich konvertiert"
    expect_listing "journal $variant: output" "$CASE/output" "$foreign $final"
    expect_file "journal $variant: output content" "$CASE/output/$final" 't\tv\n240101 00:01\t1\n'
    expect_listing "journal $variant: input removed" "$CASE/input" ""
done
expect_log "journal archived" "INFO: $CASE/input/a_20240101_0001.xml moved to $CASE/archive/a_20240101_0001.xml"

# Load: 10,000 small files with two workers.
N=${LOAD_FILES:-10000}
dir=$WORK/load
mkdir -p "$dir/output"
corpus "$dir/input" "$N" 3
"$STRANDOR" -c "$WORK/strandor.conf" -i "$dir/input" -o "$dir/output" -t 2 2>"$dir/stderr" &
parent=$!
max_children=0
fds_seen=""
while kill -0 $parent 2>/dev/null; do
    children=$(ps --ppid $parent -o pid= 2>/dev/null | wc -l)
    [ "$children" -gt "$max_children" ] && max_children=$children
    fds=$(ls /proc/$parent/fd 2>/dev/null | wc -l)
    [ "$fds" -gt 0 ] && fds_seen="$fds_seen $fds"
    sleep 0.05
done
wait $parent
STATUS=$?
strip_log "$dir/stderr" >"$dir/log"
CASE=$dir
expect_run "load" 0 "Info ($N/$N) Prozesse erfolgreich konvertiert"
[ "$(grep -c 'processing file' "$dir/log")" -eq "$N" ] && ok || fail "load: each file handed out once"
[ "$(ls "$dir/output" | wc -l)" -eq "$N" ] && ok || fail "load: $N outputs"
expect_listing "load: inputs removed" "$dir/input" ""
[ -z "$(ls -A "$dir/output" | grep '^\.')" ] && ok || fail "load: temporary files left"
[ "$max_children" -le 2 ] && ok || fail "load: $max_children children at once (zombies or too many workers)"
distinct=$(echo $fds_seen | tr ' ' '\n' | sort -u | wc -l)
[ "$distinct" -le 2 ] && ok || fail "load: the parent's open files changed: $fds_seen"
echo "load: $N files, at most $max_children children, parent file descriptors seen: $(echo $fds_seen | tr ' ' '\n' | sort -u | tr '\n' ' ')"
sleep 0.1
[ -z "$(ps -eo stat=,ppid= | awk -v p=$parent '$2 == p && $1 ~ /Z/')" ] && ok || fail "load: zombies left"

finish
