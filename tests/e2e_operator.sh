#!/bin/bash
# What an operator meets day to day: quarantine, archive, dry run, warnings and reasons.
. "$(dirname "$0")/lib.sh"

# inputs: two to convert, a malformed one and one that no description matches.
inputs() {
    rm -rf "$CASE/input" && corpus "$CASE/input" 2 1
    printf '<d><v>' >"$CASE/input/broken_20240101_0100.xml"
    printf 'x\n' >"$CASE/input/README.txt"
}
ALL="README.txt broken_20240101_0100.xml f00001_20000101_0001.xml f00001_20000101_0002.xml"
new_case keep
counter_conf "$CASE/strandor.conf"
mkdir "$CASE/q" "$CASE/k"

# A dry run names description, stamp and outputs, and touches nothing: no lock, no output.
inputs
touch -d "@$(($(date +%s) - 120))" "$CASE"/input/*
printf '<d/>' >"$CASE/input/young_20240101_0300.xml"
convert -n -a 60 -s 0/1
expect_run "-n" 22 "INFO: dry run - nothing is converted, created or removed" \
    "INFO: f00001_20000101_0001.xml: description \"xml\", stamp 2000-01-01 00:01" \
    "INFO: f00001_20000101_0001.xml: would write $CASE/output/0001010001_E_v_.data" \
    "INFO: broken_20240101_0100.xml: would write $CASE/output/2401010100_E_v_.data" \
    "ERROR: no matching record description for $CASE/input//README.txt" \
    "INFO: young_20240101_0300.xml is younger than 60 s - left for the next run" "INFO: dry run: 4 files"
[ "$(ls -A "$CASE/input" | wc -l)$(ls -A "$CASE/output")" = 5 ] && ok || fail "-n changes nothing"
rm "$CASE/input/README.txt"
convert -n
expect_run "-n, every file described" 0 "INFO: dry run: 4 files"
# It finds what the real run would fail: two inputs for one output, two measurements of one name.
cp "$CASE/input/f00001_20000101_0001.xml" "$CASE/input/g00001_20000101_0001.xml"
convert -n
expect_run "-n, two inputs for one output" 1 \
    "ERROR: f00001_20000101_0001.xml and g00001_20000101_0001.xml would both write $CASE/output/0001010001_E_v_.data"
rm "$CASE/input/g00001_20000101_0001.xml"
m=' GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY EVENT MATCH { NEEDS "v" } COLUMNS { ATTRIBUTE ( "v" ) "v" } }'
printf '%s\n' 'GLOBALS { }' 'INPUTFILE "xml" {' "$m" "$m" '}' >"$CASE/twice.conf"
run_strandor -c "$CASE/twice.conf" -i "$CASE/input" -o "$CASE/output" -n
expect_run "-n, two measurements of one name" 1 \
    "ERROR: f00001_20000101_0001.xml: two measurements of its description would write $CASE/output/0001010001_E_v_.data"

# Failed inputs go to the quarantine, converted ones to the archive, never replacing a file.
inputs
printf 'old' | tee "$CASE/q/README.txt" "$CASE/q/README.txt.1" >"$CASE/k/f00001_20000101_0001.xml"
convert -e "$CASE/q" -k "$CASE/k"
expect_run "-e -k" 1 "INFO: $CASE/input/README.txt moved to $CASE/q/README.txt.2" \
    "INFO: $CASE/input/broken_20240101_0100.xml moved to $CASE/q/broken_20240101_0100.xml" \
    "INFO: $CASE/input/f00001_20000101_0001.xml moved to $CASE/k/f00001_20000101_0001.xml.1" \
    "Info (2/4) Prozesse erfolgreich konvertiert"
expect_listing "-e" "$CASE/q" "README.txt README.txt.1 README.txt.2 broken_20240101_0100.xml"
expect_listing "-k" "$CASE/k" "f00001_20000101_0001.xml f00001_20000101_0001.xml.1 f00001_20000101_0002.xml"
expect_file "-k keeps the file" "$CASE/k/f00001_20000101_0001.xml.1" '<d><v>1</v></d>'
expect_listing "-e -k" "$CASE/input" ""
convert -e "$CASE/q" -k "$CASE/k"
expect_status "the next run starts clean" 0

# Faults that fail every file are told once at the start, then each file says why.
printf '%s\n' 'GLOBALS { } INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY EVENT' \
    'MATCH { NEEDS "v" } COLUMNS { ATTRIBUTE ( "v" ) "a_name_of_thirty_one_characters" } } }' >"$CASE/long.conf"
inputs && rm "$CASE/output"/*
run_strandor -c "$CASE/long.conf" -i "$CASE/input" -o "$CASE/nowhere"
expect_failed "missing output" 1 "$ALL" \
    "WARNING: output path $CASE/nowhere/ does not exist - every conversion will fail" \
    "WARNING: column name \"a_name_of_thirty_one_characters\" is longer than 30 characters - every file of its description will fail" \
    "ERROR: could not open file $CASE/nowhere//0001010001_E_v_.data" "HINT: No such file or directory"

# With the default directories, in a mount namespace of its own, the lock file lies inside
# the input directory.
new_case default-directories; counter_conf "$CASE/strandor.conf"
if unshare -m true 2>/dev/null; then
    run_in_case unshare -m sh -c 'mount -t tmpfs none /opt && mkdir -p /opt/strandor/input /opt/strandor/output &&
        echo "<d><v>1</v></d>" >/opt/strandor/input/a_20240101_0001.xml && "$0" -c strandor.conf; s=$?; find /opt | sort >tree; exit $s' "$STRANDOR"
    expect_status "default directories" 0
    expect_file "default directories: the lock file inside the input directory" "$CASE/tree" \
        '/opt\n/opt/strandor\n/opt/strandor/input\n/opt/strandor/input/.strandor.0of1.lock\n/opt/strandor/output\n/opt/strandor/output/2401010001_E_v_.data\n'
else skip "no private mount namespace here: the default directories are not tried"; fi

finish
