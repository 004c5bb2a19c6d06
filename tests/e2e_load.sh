#!/bin/bash
# Faults and load: killed parents and process groups, and 10,000 files at once.
# An input file is removed only with its complete output in place; a failed or
# interrupted input leaves nothing behind and converts on a rerun.
. "$(dirname "$0")/lib.sh"

# Reference outputs of a corpus, converted without interruption.
counter_conf "$WORK/strandor.conf"
corpus "$WORK/corpus" 16 150000
mkdir -p "$WORK/reference/input" "$WORK/reference/output"
cp "$WORK"/corpus/* "$WORK/reference/input/"
"$STRANDOR" -c "$WORK/strandor.conf" -i "$WORK/reference/input" -o "$WORK/reference/output" -t 2 2>/dev/null
[ "$(ls "$WORK/reference/output" | wc -l)" -eq 16 ] && ok || fail "reference conversion"

# check NAME DIR: every input is either gone with its whole output in place, or still
# there without any output (unless a journal is left for the rerun).
check_state() {
    local name=$1 dir=$2 converted=0 kept=0 base out
    for f in "$WORK"/corpus/*; do
        base=$(basename "$f")
        out=$(echo "$base" | sed -E 's/^f[0-9]+_[0-9]{2}([0-9]{6})_([0-9]{4}).xml$/\1\2_E_v_.data/')
        if [ -e "$dir/input/$base" ]; then
            # Only a publication that a journal records may have its input still in place.
            kept=$((kept + 1)); [ -e "$dir/output/$out" ] && ! ls -A "$dir/output" | grep -q '\.journal$' &&
                fail "$name: $base kept, but its output exists"
        else
            converted=$((converted + 1)); cmp -s "$dir/output/$out" "$WORK/reference/output/$out" || fail "$name: output of $base incomplete"
        fi
    done
    echo "$name: $converted converted, $kept kept"
    ok
}
no_temporary() {
    [ -z "$(ls -A "$2/output" | grep '^\.')" ] && ok || fail "$1: temporary files left: $(ls -A "$2/output" | grep '^\.')"
}

# gone DIR: the workers named in the log have ended (a kill takes effect only when a
# worker returns from a sync in progress).
gone() { for w in $(sed -n 's/^\[\([0-9]*\)\].*processing file.*/\1/p' "$1/stderr"); do kill -0 "$w" 2>/dev/null && return 1; done; return 0; }

# A worker killed between publishing its output and removing its input leaves a journal;
# the next run of its input directory and shard finishes that work before it lists the
# input directory, whichever host wrote it. Leftovers of another shard or another input
# directory (another id in the lock file) stay.
for variant in moved-none moved-all; do
    new_case "journal-$variant"
    counter_conf "$CASE/strandor.conf"
    printf '<d><v>1</v></d>' >"$CASE/input/a_20240101_0001.xml"
    printf 't\tv\n240101 00:01\t1\n' >"$CASE/expected"
    printf 0123456789ab >"$CASE/input/.strandor.0of1.lock"
    tag=elsewhere.0of1.0123456789ab.4711
    final=2401010001_E_v_.data
    if [ $variant = moved-none ]; then cp "$CASE/expected" "$CASE/output/.$final.$tag.part"; else cp "$CASE/expected" "$CASE/output/$final"; fi
    printf '1\0%s\0%s\0%s' a_20240101_0001.xml ".$final.$tag.part" "$final" >"$CASE/output/.strandor.$tag.journal"
    foreign=".strandor.elsewhere.0of1.ba9876543210.4711.journal .x.data.elsewhere.0of1.ba9876543210.4711.part .x.data.elsewhere.0of2.0123456789ab.4711.part"
    for f in $foreign .y.data.there.0of1.0123456789ab.99.part; do : >"$CASE/output/$f"; done
    convert
    expect_run "journal $variant" 0 "INFO: finished the interrupted conversion of $CASE/input//a_20240101_0001.xml" \
        "Info (0/0) Prozesse erfolgreich konvertiert"
    expect_listing "journal $variant: output" "$CASE/output" "$foreign $final"
    cmp -s "$CASE/expected" "$CASE/output/$final" && ok || fail "journal $variant: output content"
    expect_listing "journal $variant: input removed" "$CASE/input" ""
done

# killed NAME STARTED CLEAN KILL...: a run over the corpus, killed by "KILL PID" once STARTED
# workers have started (CLEAN: no temporary file may stay even before the rerun); then a
# rerun must convert the rest, each output whole, no temporary left.
killed() {
    local name=$1 started=$2 clean=$3 pid
    shift 3
    dir=$WORK/$name
    mkdir -p "$dir/input" "$dir/output"
    cp "$WORK"/corpus/* "$dir/input/"
    setsid "$STRANDOR" -c "$WORK/strandor.conf" -i "$dir/input" -o "$dir/output" -t 2 2>"$dir/stderr" &
    pid=$!
    wait_until started "$dir/stderr" "$started"
    "$@" $pid
    wait $pid 2>/dev/null
    wait_until gone "$dir"
    check_state "$name" "$dir"
    [ "$clean" = clean ] && no_temporary "$name" "$dir"
    "$STRANDOR" -c "$WORK/strandor.conf" -i "$dir/input" -o "$dir/output" -t 2 2>"$dir/rerun"
    [ $? -eq 0 ] && ok || fail "$name: rerun failed: $(grep ERROR "$dir/rerun" | head -3)"
    check_state "$name, after the rerun" "$dir"
    no_temporary "$name, after the rerun" "$dir"
    expect_listing "$name, all converted" "$dir/input" ""
}
# The parent killed alone: its workers finish their files.
killed parent-killed 5 clean kill -KILL
# Parent and workers killed together: a journal or temporary files may stay for the rerun.
kill_group() { kill -KILL -- -"$1"; }
killed group-killed 7 - kill_group

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
no_temporary "load" "$dir"
[ "$max_children" -le 2 ] && ok || fail "load: $max_children children at once (zombies or too many workers)"
distinct=$(echo $fds_seen | tr ' ' '\n' | sort -u | wc -l)
[ "$distinct" -le 2 ] && ok || fail "load: the parent's open files changed: $fds_seen"
echo "load: $N files, at most $max_children children, parent file descriptors seen: $(echo $fds_seen | tr ' ' '\n' | sort -u | tr '\n' ' ')"
sleep 0.1
[ -z "$(ps -eo stat=,ppid= | awk -v p=$parent '$2 == p && $1 ~ /Z/')" ] && ok || fail "load: zombies left"

finish
