#!/bin/bash
# Deliveries as management systems make them: input trees (-r) with shards, archive,
# quarantine and kills; measurements without records publishing nothing; and the list of
# the failed files at the end of a run.
. "$(dirname "$0")/lib.sh"
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

# tree_conf: one record per <v>, one output per input.
tree_conf() {
    printf '%s\n' 'GLOBALS { FILE_MASK "%3_%5.data" }' 'INPUTFILE "^A" { GENERATES MEASUREMENT { MEASUREMENTNAME "v"' \
        '  GRANULARITY 15MIN MATCH { NEEDS "v" } COLUMNS { UTC_FILESTAMP "t" ATTRIBUTE ( "v" ) "v" } } }' >"$CASE/strandor.conf"
}
# tree: three nodes, two days each; day 2 of node 3 is malformed. Also a hidden folder and
# a link back to the top, which no run may follow.
tree() {
    local node day
    for node in 1 2 3; do
        for day in 11 12; do
            mkdir -p "$CASE/input/pm/n$node/202406$day"
            printf '<d><v>n%s-%s</v></d>' $node $day >"$CASE/input/pm/n$node/202406$day/A202406$day.1400+0200-1415+0200_n$node.xml"
        done
    done
    printf '<d>' >"$CASE/input/pm/n3/20240612/A20240612.1400+0200-1415+0200_n3.xml"
    mkdir -p "$CASE/input/.hidden" && cp "$CASE/input/pm/n1/20240611/"*.xml "$CASE/input/.hidden/"
    ln -s ../.. "$CASE/input/pm/loop"
}
# converted: the records of every output, sorted.
converted() { tail -qn +2 "$CASE"/output/*.data | cut -f2 | sort | tr '\n' ' '; }
ALL="n1-11 n1-12 n2-11 n2-12 n3-11 "

new_case flat
tree_conf; tree
convert
expect_run "without -r" 0 "INFO: 1 subdirectories of $CASE/input are not read; use -r to convert input trees" "Info (0/0) Prozesse erfolgreich konvertiert"

new_case tree
tree_conf; tree
mkdir -p "$CASE/archive" "$CASE/bad"
convert -r -s 0/2 -k "$CASE/archive" -e "$CASE/bad"
convert -r -s 1/2 -k "$CASE/archive" -e "$CASE/bad"
[ "$(converted)" = "$ALL" ] && ok || fail "tree: records '$(converted)'"
expect_log "tree: a message names the path" "INFO: pm/n1/20240612/A20240612.1400+0200-1415+0200_n1.xml: 1 records in 1 output files"
[ "$(cd "$CASE/archive" && find . -type f | sort | tr '\n' ' ')" = "./pm/n1/20240611/A20240611.1400+0200-1415+0200_n1.xml ./pm/n1/20240612/A20240612.1400+0200-1415+0200_n1.xml ./pm/n2/20240611/A20240611.1400+0200-1415+0200_n2.xml ./pm/n2/20240612/A20240612.1400+0200-1415+0200_n2.xml ./pm/n3/20240611/A20240611.1400+0200-1415+0200_n3.xml " ] \
    && ok || fail "tree: archive $(cd "$CASE/archive" && find . -type f)"
[ "$(cd "$CASE/bad" && find . -type f)" = "./pm/n3/20240612/A20240612.1400+0200-1415+0200_n3.xml" ] && ok || fail "tree: quarantine"
[ "$(cd "$CASE/input" && find . -type f ! -name '.strandor*' | sort | tr '\n' ' ')" = "./.hidden/A20240611.1400+0200-1415+0200_n1.xml " ] \
    && ok || fail "tree: inputs left $(cd "$CASE/input" && find . -type f)"
expect_listing "tree: emptied folders stay" "$CASE/input/pm/n1" "20240611 20240612"

# Killed when an output is published, before its input is archived: the next run finishes
# the work from the journal, which names the input by its path in the tree.
new_case killed
tree_conf; tree; rm "$CASE/input/pm/n3/20240612/"*; mkdir "$CASE/archive"
STRANDOR_SHIM=renameat2:1:killrun LD_PRELOAD=$SHIM convert -r -k "$CASE/archive"
convert -r -k "$CASE/archive"
expect_run "killed tree" 0 "INFO: finished the interrupted conversion of $CASE/input//pm/n1/20240611/A20240611.1400+0200-1415+0200_n1.xml"
[ "$(converted)" = "$ALL" ] && ok || fail "killed tree: records '$(converted)'"
[ "$(cd "$CASE/archive" && find . -type f | wc -l)" = 5 ] && ok || fail "killed tree: archive"

# One configuration for both 3GPP layouts: a measurement without records publishes
# nothing, the others exactly what they always wrote.
new_case skip
cp -r "$TESTS_DIR/cases/real_pm/input/." "$CASE/input/"
sed 's/^GLOBALS {/GLOBALS { EMPTY_OUTPUTS SKIP/' "$TESTS_DIR/cases/real_pm/strandor.conf" >"$CASE/strandor.conf"
convert -n
expect_log "skip, dry run" "INFO: a1_20000301_1400.xml: would write $CASE/output/0003011400_Q_counters_R1.data unless it gets no record"
convert
expect_run "skip" 1 "INFO: nomeasdata_20190328_0015.xml: 0 records in 0 output files" "WARNING: nomeasdata_20190328_0015.xml gave no record"
mkdir "$CASE/expected"
for f in "$TESTS_DIR"/cases/real_pm/expected/*; do [ "$(wc -l <"$f")" -lt 2 ] || cp "$f" "$CASE/expected/"; done
diff -r "$CASE/expected" "$CASE/output" >/dev/null && ok || fail "skip: outputs differ from the files with records"

# The failed files, listed before the summary: at most 20, in the order the workers end
# (one worker at a time, so that the first 20 are known).
new_case failures
tree_conf
for i in $(seq -w 1 22); do printf '<d>' >"$CASE/input/A20240611.14${i}+0200-1415+0200_x.xml"; done
convert -t 1
expect_run "failures" 1 "INFO: failed: A20240611.1401+0200-1415+0200_x.xml (status 1)" \
    "INFO: failed: A20240611.1420+0200-1415+0200_x.xml (status 1)" "INFO: ... and 2 more failed files"
[ "$(grep -c '^INFO: failed: ' "$CASE/log")" = 20 ] && ok || fail "failures: not 20 listed"
[ "$(grep -A1 '^INFO: ... and 2 more' "$CASE/log" | tail -1)" = "Info: Main Program terminated" ] && ok || fail "failures: not before the summary"

# The archive and quarantine inside the input tree are never read again: each file is
# converted, archived or quarantined once, and nothing nests.
new_case inside
tree_conf
mkdir -p "$CASE/input/a"
printf '<d><v>once</v></d>' >"$CASE/input/a/A20240611.1400+0200-1415+0200_x1.xml"
printf '<d>' >"$CASE/input/a/A20240611.1400+0200-1415+0200_x2.xml"
mkdir "$CASE/input/archive" "$CASE/input/quar"
for run in 1 2 3; do convert -r -k "$CASE/input/archive" -e "$CASE/input/quar"; done
expect_run "inside" 0 "INFO: $CASE/input/archive lies inside the input tree and is not read" \
    "INFO: $CASE/input/quar lies inside the input tree and is not read" "Info (0/0) Prozesse erfolgreich konvertiert"
[ "$(cd "$CASE/input" && find . -type f ! -name '.strandor*' | sort | tr '\n' ' ')" = \
    "./archive/a/A20240611.1400+0200-1415+0200_x1.xml ./quar/a/A20240611.1400+0200-1415+0200_x2.xml " ] \
    && ok || fail "inside: files $(cd "$CASE/input" && find . -type f)"
[ "$(converted)" = "once " ] && ok || fail "inside: records '$(converted)'"

# A folder that cannot be read is said, the others are converted, and the run fails.
new_case unreadable
tree_conf
printf '<d><v>read</v></d>' >"$CASE/input/A20240611.1400+0200-1415+0200_x.xml"
# Deeper than PATH_MAX: made one folder at a time.
(cd "$CASE/input" && perl -e 'for (1 .. 22) { mkdir "d" x 200 or die; chdir "d" x 200 or die }')
convert -r
expect_run "unreadable" 1 "Info (1/1) Prozesse erfolgreich konvertiert"
[ "$(strip_log "$CASE/log" | grep -cE '^ERROR: could not read folder (d{200}/){19,}d{200}: File name too long$')" = 1 ] \
    && ok || fail "unreadable: the folder is not named once"
[ "$(converted)" = "read " ] && ok || fail "unreadable: records '$(converted)'"

# One name in two node folders: %6 keeps the outputs apart; with %5 the second is refused,
# and the hint points to %6.
new_case folders
tree_conf
mkdir -p "$CASE/input/a" "$CASE/input/b"
for n in a b; do printf '<d><v>%s</v></d>' $n >"$CASE/input/$n/A20240611.1400+0200-1415+0200_x1.xml"; done
convert -r -t 1
expect_run "folders, %5" 1 "ERROR: file $CASE/output//v_A20240611.1400+0200-1415+0200_x1.data already exists - aborting " \
    "HINT: several input files map to this output name; put %6 into FILE_MASK to keep one output per input file"
[ "$(grep -A1 -- '- aborting $' "$CASE/log" | tail -1 | strip_log /dev/stdin)" = "ERROR: could not open output files" ] \
    && ok || fail "folders: the open failure does not follow"
sed -i 's/%3_%5/%3_%6/' "$CASE/strandor.conf"
rm "$CASE"/output/*
printf '<d><v>a</v></d>' >"$CASE/input/a/A20240611.1400+0200-1415+0200_x1.xml"
convert -r
expect_listing "folders, %6" "$CASE/output" "v_a_A20240611.1400+0200-1415+0200_x1.data v_b_A20240611.1400+0200-1415+0200_x1.data"

finish
