#!/bin/bash
# Shared directories and bad moments: nothing planted is trusted, and a file replaced, a
# full disk or a run killed at the wrong moment loses nothing.
. "$(dirname "$0")/lib.sh"
SHIM=${SHIM:?path of the test shim}
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"
chmod 755 "$WORK"
conf2() { # two measurements of each input
    printf '%s\n' 'GLOBALS { }' 'INPUTFILE "xml" {' \
        'GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY EVENT MATCH { NEEDS "v" } COLUMNS { ATTRIBUTE ( "v" ) "v" } }' \
        'GENERATES MEASUREMENT { MEASUREMENTNAME "w" GRANULARITY EVENT MATCH { NEEDS "v" } COLUMNS { ATTRIBUTE ( "v" ) "w" } } }' \
        >"$CASE/strandor.conf"
}
OUTS="2401010001_E_v_.data 2401010001_E_w_.data"
# hold_lock FILE [COMMAND...]: a POSIX lock on FILE, held in the background (as COMMAND runs
# its argument) until holder is killed; returns once it is taken.
hold_lock() {
    "${@:2}" python3 -c 'import fcntl, sys, time; f = open(sys.argv[1], "r+"); fcntl.lockf(f, fcntl.LOCK_EX)
open(sys.argv[1] + ".held", "w").close(); time.sleep(60)' "$1" & holder=$!
    wait_until test -e "$1.held"
    rm -f "$1.held"
}
# unlucky NAME SHIM [OPTION...]: one input converted by one worker under the shim.
unlucky() {
    new_case "$1"; conf2
    printf '<d><v>old</v></d>' >"$CASE/input/a_20240101_0001.xml"
    STRANDOR_SHIM=$2 LD_PRELOAD=$SHIM convert -t 1 "${@:3}"
}

# A file delivered again under the same name while it is converted stays for the next run.
STRANDOR_SHIM_RUN="echo new >$WORK/new && mv $WORK/new $WORK/replaced/input/a_20240101_0001.xml" unlucky replaced renameat2:1:run
expect_run replaced 0 "INFO: a_20240101_0001.xml was replaced during its conversion - the new file stays for the next run"
expect_file "replaced: the new file stays" "$CASE/input/a_20240101_0001.xml" 'new\n'
expect_file "replaced: the old file converted" "$CASE/output/2401010001_E_v_.data" 'v\nold\n'
# Without RENAME_NOREPLACE, killed between link() and unlink(): the run finishes the publication.
STRANDOR_SHIM_NO_NOREPLACE=1 unlucky no-noreplace link:1:kill
expect_run no-noreplace 1 "INFO: finished the interrupted conversion of $CASE/input//a_20240101_0001.xml"
expect_listing "no-noreplace: both published" "$CASE/output" "$OUTS"
expect_listing "no-noreplace: input removed" "$CASE/input" ""
# The run killed once both outputs are published, which a loader takes before the next run:
# the input is not converted twice.
unlucky loaded renameat2:2:killrun
rm "$CASE"/output/*.data
convert -t 1
expect_run loaded 0 "INFO: finished the interrupted conversion of $CASE/input//a_20240101_0001.xml" "Info (0/0) Prozesse erfolgreich konvertiert"
expect_listing "loaded: nothing converted again" "$CASE/output" ""
# The run killed before its journal is written, or before it is in place: nothing was
# published, and nothing is left. (The third write is the journal's, after two outputs.)
for at in write:3 rename:1; do
    unlucky "journal-$at" $at:die
    convert -t 1
    expect_run "journal-$at" 0 "Info (1/1) Prozesse erfolgreich konvertiert"
    expect_listing "journal-$at: converted once" "$CASE/output" "$OUTS"
done
# A rename that fails after the first output is published takes that one back.
unlucky rename-fails renameat2:2:5
expect_failed rename-fails 1 a_20240101_0001.xml "ERROR: could not write file $CASE/output//2401010001_E_w_.data" \
    "HINT: Input/output error"
# Each worker may have its share of the memory, the machine's or its container's, divided by -t.
memory=$(($(awk '/^MemTotal:/ { print $2 }' /proc/meminfo) * 1024))
container=$(cat /sys/fs/cgroup/memory.max 2>/dev/null)
[[ $container =~ ^[0-9]+$ ]] && [ "$container" -lt "$memory" ] && memory=$container
STRANDOR_SHIM_RUN="grep '^Max data size' /proc/\$PPID/limits >$WORK/limits" unlucky limit fsync:1:run -t 3
[ "${SANITIZED:-0}" = 1 ] || [ "$(ulimit -d)" != unlimited ] || [ "$(awk '{ print $4 }' "$WORK/limits")" = $((memory / 3)) ] &&
    ok || fail "limit: a worker's $(cat "$WORK/limits"), expected $((memory / 3))"
# A worker killed between its renames and the removal of its input: the parent that reaps it
# finishes its journal.
unlucky reaped renameat2:2:kill
expect_run reaped 1 "INFO: finished the interrupted conversion of $CASE/input//a_20240101_0001.xml"
expect_listing "reaped: published" "$CASE/output" "$OUTS"
expect_listing "reaped: input removed" "$CASE/input" ""
# Without open file description locks the lock is the process's own, and still excludes.
new_case no-ofd
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 1 1
: >"$CASE/input/.strandor.0of1.lock"
hold_lock "$CASE/input/.strandor.0of1.lock"
STRANDOR_SHIM_NO_OFD=1 LD_PRELOAD=$SHIM convert
expect_run "no OFD locks: held" 3 "ERROR: another strandor run is converting shard 0/1 of $CASE/input/ - aborting"
kill $holder; wait $holder 2>/dev/null # its lock goes with it
STRANDOR_SHIM_NO_OFD=1 LD_PRELOAD=$SHIM convert
expect_run "no OFD locks: free" 0 "Info (1/1) Prozesse erfolgreich konvertiert"
# A full disk is no fault of the file: it is not quarantined.
mkdir -p "$WORK/q"
unlucky full-disk fsync:1:28 -e "$WORK/q"
expect_failed full-disk 1 a_20240101_0001.xml "HINT: No space left on device" \
    "INFO: a_20240101_0001.xml stays for the next run: its conversion failed for a reason outside the file"
expect_listing "full disk: no quarantine" "$WORK/q" ""

# Planted: a lock file that leads elsewhere, a journal naming a file outside the input
# directory (the reasons a journal is refused are in tst_process). The victim stays as it is.
new_case planted
counter_conf "$CASE/strandor.conf"
echo victim >"$WORK/victim.txt"
ln -s ../../victim.txt "$CASE/input/.strandor.0of1.lock"
convert
expect_run "planted lock" 1 "ERROR: could not open lock file $CASE/input/.strandor.0of1.lock: Too many levels of symbolic links"
rm "$CASE/input/.strandor.0of1.lock"
convert
printf '1\0../../victim.txt' >"$CASE/output/.strandor.h.0of1.$(cat "$CASE/input/.strandor.0of1.lock").7.journal"
convert
expect_run "planted journal" 0 "ERROR: journal $CASE/output/.strandor.h.0of1.$(cat "$CASE/input/.strandor.0of1.lock").7.journal refused: its input is not a file name below the input directory - left in place"
expect_file "victim untouched" "$WORK/victim.txt" 'victim\n'
expect_listing "planted journal left in place" "$CASE/output" ".strandor.h.0of1.$(cat "$CASE/input/.strandor.0of1.lock").7.journal"

# A crash of the system can leave a journal without its bytes (journals are not synced):
# it is dropped with the temporary files of its process, and the input converts again.
new_case crashed
counter_conf "$CASE/strandor.conf"
convert
tag="h.0of1.$(cat "$CASE/input/.strandor.0of1.lock").8"
: >"$CASE/output/.strandor.$tag.journal"
: >"$CASE/output/.x.data.$tag.part"
printf '<d><v>1</v></d>' >"$CASE/input/a_20240101_0001.xml"
convert
expect_run "crashed" 0 "INFO: journal $CASE/output/.strandor.$tag.journal is empty: the system stopped before it reached the disk - removed"
expect_listing "crashed: only the output" "$CASE/output" "2401010001_E_v_.data"

# A link to a FIFO fails its file; the run goes on.
new_case fifo
counter_conf "$CASE/strandor.conf"
mkfifo "$WORK/pipe"
ln -s "$WORK/pipe" "$CASE/input/a_20240101_0001.xml"
printf '<d><v>1</v></d>' >"$CASE/input/b_20240101_0002.xml"
run_in_case timeout 60 "$STRANDOR" -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output"
expect_run fifo 1 "ERROR: opening file $CASE/input//a_20240101_0001.xml" "HINT: not a regular file" \
    "ERROR: parsing unsuccessful" "Info (1/2) Prozesse erfolgreich konvertiert"
expect_listing "fifo: only the other output" "$CASE/output" "2401010002_E_v_.data"

# Stopped at moments of the start-up (listing 20,000 files) and of the pool: always the
# stop's status, summary and metrics.
new_case stop
counter_conf "$CASE/strandor.conf"
perl -e 'for (1 .. 20000) { open(my $f, ">", sprintf("%s/f%05d_20240101_0001.xml", $ARGV[0], $_)) }' "$CASE/input"
for delay in 0 0.01 0.02 0.04 0.06 0.08 0.1 0.12; do
    ( cd "$CASE" && exec "$STRANDOR" -c strandor.conf -i input -o output -m "$CASE/m.prom" 2>stderr ) &
    # From the moment the stop signals are blocked, at the start of main().
    wait_until grep -q '^SigBlk:.*14002$' /proc/$!/status
    sleep $delay; kill -TERM $!; wait $!; STATUS=$?
    strip_log "$CASE/stderr" >"$CASE/log"
    expect_run "stop after $delay s" 143 "Info: Main Program terminated"
    grep -qx 'strandor_exit_status{shard="0/1"} 143' "$CASE/m.prom" && ok || fail "stop after $delay s: metrics"
done

# Other members of the group share the lock; a run whose input directory it cannot write at
# -d 0 refuses to start.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    as() { setpriv --reuid="$1" --regid=4000 --clear-groups -- sh -c 'umask 002 && exec "$@"' - "${@:2}"; }
    cp "$STRANDOR" "$WORK/strandor" # the build tree may be closed to other users
    new_case group
    counter_conf "$CASE/strandor.conf"
    corpus "$CASE/input" 2 1
    chgrp -R 4000 "$CASE" && chmod -R 2775 "$CASE" && chmod 664 "$CASE"/input/*
    run_in_case as 4001 "$WORK/strandor" -c strandor.conf -i input -o output -d 1
    [ "$(stat -c %a "$CASE/input/.strandor.0of1.lock")" = 664 ] && ok || fail "group: lock mode"
    hold_lock "$CASE/input/.strandor.0of1.lock" as 4001
    run_in_case as 4002 "$WORK/strandor" -c strandor.conf -i input -o output
    expect_run "group: one lock" 3 "ERROR: another strandor run is converting shard 0/1 of input/ - aborting"
    kill $holder; wait $holder 2>/dev/null
    chmod 755 "$CASE/input"
    run_in_case as 4002 "$WORK/strandor" -c strandor.conf -i input -o output
    expect_run "input not writable" 1 "ERROR: input directory input is not writable - converted files could not be removed"
    expect_listing "input not writable: nothing touched" "$CASE/input" "f00001_20000101_0001.xml f00001_20000101_0002.xml"
else skip "not root, or no setpriv: the second user's cases are not run"; fi
finish
