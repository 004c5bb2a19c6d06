#!/bin/bash
# Instances that share directories: shards split the files, one run per shard at a time,
# and the shard of an instance killed on one host is finished by a rerun on another.
. "$(dirname "$0")/lib.sh"
counter_conf "$WORK/strandor.conf"
# Small files, and a few large ones that a kill is likely to meet while it writes them.
corpus "$WORK/corpus" 1994 3
corpus "$WORK/corpus" 6 1000000 1995

# Host names and pid namespaces of their own where this machine lets us make them.
unshare --uts --pid --fork --mount-proc true 2>/dev/null && NS=yes ||
    { NS=no; skip "no pid and UTS namespaces here (unshare not permitted): instances share this host's name"; }
# as_host HOST COMMAND...: COMMAND as pid 1 of a namespace on host HOST, where possible.
as_host() { if [ $NS = yes ]; then unshare --uts --pid --fork --mount-proc sh -c 'hostname "$0" && exec "$@"' "$@"; else shift; "$@"; fi; }
# instance DIR K/N HOST: one run in the background over DIR; sets PID and LOG.
instance() {
    LOG=$1/log.${2%/*}.$3
    setsid bash -c 'as_host "$@"' - "$3" "$STRANDOR" -c "$WORK/strandor.conf" -i "$1/input" -o "$1/output" -t 2 -s "$2" 2>"$LOG" & PID=$!
}
export -f as_host && export NS
fresh() { rm -rf "$1"; mkdir -p "$1/input" "$1/output"; cp -l "$WORK"/corpus/* "$1/input/"; }
# "HASH HEX NAME" for each name: FNV-1a of its bytes, in an implementation of its own.
fnv() { perl -e 'for (@ARGV) { my $h = 2166136261; $h = (($h ^ $_) * 16777619) % 4294967296 for unpack "C*", $_;
    printf "%u %08x %s\n", $h, $h, $_ }' "$@"; }
processed() { sed -n 's/.*processing file = //p' "$@"; }

# Four instances at once over 2,000 files, then again as four hosts in pid namespaces.
for hosts in "here here here here" "h0 h1 h2 h3"; do
    dir=$WORK/four; fresh "$dir"
    pids="" k=0
    for host in $hosts; do instance "$dir" $((k++))/4 $host; pids="$pids $PID"; done
    statuses=""; for p in $pids; do wait $p; statuses="$statuses$? "; done
    name="four instances on '$hosts'"
    # Without errors, a file converted twice would fail the second time: the counts tell the rest.
    [ "$statuses" = "0 0 0 0 " ] && ! grep -h ERROR "$dir"/log.* && ok || fail "$name: statuses $statuses, or errors"
    total=$(sed -n 's/.*Info (\([0-9]*\)\/\1) Prozesse erfolgreich konvertiert/\1/p' "$dir"/log.* | awk '{ t += $1 } END { print t }')
    [ "$total" = 2000 ] && [ "$(ls "$dir/output" | wc -l)" = 2000 ] && [ -z "$(ls -A "$dir/output" | grep '^\.')$(ls "$dir/input")" ] &&
        ok || fail "$name: the summaries add up to $total; not all 2000 converted, or leftovers"
    [ -z "$(for k in 0 1 2 3; do fnv $(processed "$dir"/log.$k.*) | awk -v k=$k '$1 % 4 != k'; done)" ] &&
        ok || fail "$name: an instance took files of another shard"
done

# A shard is converted by one run at a time: a second run exits 3 and touches nothing.
new_case busy
corpus "$CASE/input" 1 3000000
instance "$CASE" 0/1 here
wait_until started "$LOG" 1
kill -STOP -- -$PID
before=$(ls -AR "$CASE/input" "$CASE/output")
run_strandor -c "$WORK/strandor.conf" -i "$CASE/input" -o "$CASE/output" -d 1
expect_run "busy shard" 3 "ERROR: another strandor run is converting shard 0/1 of $CASE/input/ - aborting"
[ "$(ls -AR "$CASE/input" "$CASE/output")" = "$before" ] && ok || fail "busy shard: files changed"
kill -CONT -- -$PID
wait $PID && ok || fail "busy shard: the first run failed"

# A read-only input directory (its files kept at -d 1) has its lock in the output directory.
new_case read-only
corpus "$CASE/input" 2 1
lock=.strandor.$(fnv "$(realpath "$CASE/input")" | cut -d' ' -f2).0of1.lock
# read_only COMMAND...: COMMAND with $CASE/input mounted read-only.
read_only() { unshare --mount sh -c 'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" && exec "$@"' "$CASE/input" "$@"; }
if read_only true 2>/dev/null; then
    run_in_case read_only "$STRANDOR" -c "$WORK/strandor.conf" -i "$CASE/input" -o "$CASE/output" -d 1
    expect_run "read-only input" 0 "Info (2/2) Prozesse erfolgreich konvertiert"
    [ -f "$CASE/output/$lock" ] && ok || fail "read-only input: lock $lock in the output directory"
    run_in_case read_only "$STRANDOR" -c "$WORK/strandor.conf" -i "$CASE/input" -o "$CASE/nowhere" -d 1
    expect_run "read-only input, no output directory" 1 \
        "ERROR: could not open lock file $CASE/nowhere/$lock: No such file or directory"
else skip "no read-only bind mount here: the read-only input directory is not tried"; fi

# An instance is killed alone or with its workers at a moment set by its round (so that a
# failure can be replayed), then its shard is rerun on another host while the same shard of
# another input directory is converted into the same output directory. Every file of the shard
# is converted once and whole, the other shard stays untouched, the other run undisturbed.
sed 's/GLOBALS { }/GLOBALS { FILE_MASK "o_%1" }/' "$WORK/strandor.conf" >"$WORK/other.conf"
for k in 0 1; do
    fresh "$WORK/ref$k"; "$STRANDOR" -c "$WORK/strandor.conf" -i "$WORK/ref$k/input" -o "$WORK/ref$k/output" -s $k/2 -t 2 2>/dev/null
done
# settled DIR K: each output in place is whole, and an input still in place has no output
# unless a journal left for the rerun records it.
settled() {
    local outs; outs=$(ls "$1/output")
    [ -z "$outs" ] || cmp -s <(cd "$1/output" && cat $outs) <(cd "$WORK/ref$2/output" && cat $outs) || return 1
    ls -A "$1/output" | grep -q '\.journal$' && return 0
    [ -z "$(ls "$1/input" | sed -E 's/^f[0-9]+_[0-9]{2}([0-9]{6})_([0-9]{4}).xml$/\1\2_E_v_.data/' | comm -12 - <(echo "$outs"))" ]
}
dir=$WORK/kills
# The kill delays come from a seed: a failure is replayed with the seed it printed.
SEED=${SEED:-$(date +%s)}
echo "kill delays from SEED=$SEED"
RANDOM=$SEED
for round in $(seq 1 "${KILL_ROUNDS:-8}"); do
    k=$(((round / 2) % 2)) delay=$(printf '0.%02d' $((RANDOM % 100)))
    fresh "$dir"
    setsid "$STRANDOR" -c "$WORK/strandor.conf" -i "$dir/input" -o "$dir/output" -t 2 -s $k/2 2>/dev/null & PID=$!
    sleep "$delay"
    if [ $((round % 2)) = 1 ]; then what="instance and workers"; kill -KILL -- -$PID; else what="instance alone"; kill -KILL $PID; fi
    wait $PID 2>/dev/null
    wait_until eval '! kill -0 -- -$PID 2>/dev/null'
    before=$(ls "$dir/output" | wc -l)
    name="round $round: shard $k/2, $what killed after ${delay}s with $before files converted"
    settled "$dir" $k && ok || fail "$name: inconsistent"
    [ "$what" = "instance and workers" ] || [ -z "$(ls -A "$dir/output" | grep '^\.')" ] && ok || fail "$name: leftovers"
    rm -rf "$WORK/other"; corpus "$WORK/other" 100 3 3001
    "$STRANDOR" -c "$WORK/other.conf" -i "$WORK/other" -o "$dir/output" -t 2 -s $k/2 2>"$WORK/other.log" & other=$!
    instance "$dir" $k/2 rerun$round
    wait $PID; STATUS=$?; wait $other && [ $STATUS = 0 ] && ! grep ERROR "$LOG" "$WORK/other.log" && ok || fail "$name: rerun status $STATUS"
    [ $(($(ls "$WORK/other" | wc -l) + $(ls "$dir/output" | grep -c '^o_'))) = 100 ] && ok || fail "$name: the other directory"
    diff -r -x 'o_*' "$WORK/ref$k/output" "$dir/output" >/dev/null && ok || fail "$name: outputs differ from an uninterrupted run"
    [ "$(ls -A "$dir/input")" = "$(ls -A "$WORK/ref$k/input")" ] && ok || fail "$name: inputs differ"
    echo "$name; the rerun finished $(grep -c 'finished the interrupted' "$LOG") journals and converted $(processed "$LOG" | wc -l) files"
done

finish
