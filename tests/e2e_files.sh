#!/bin/bash
# Converting one file: description choice, time stamps, output names and headers,
# safe publication, and what is left behind on failure.
. "$(dirname "$0")/lib.sh"

# config SETTINGS GRANULARITY: one measurement CELL with a time stamp and a value column.
config() {
    printf '%s\n' "GLOBALS { $1 }" 'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "CELL"' \
        "  GRANULARITY ${2:-15MIN} MATCH { NEEDS \"r\" -> \"v\" }" \
        '  COLUMNS { UTC_FILESTAMP "time" ATTRIBUTE ( "r" -> "v" ) "value" } } }' >"$CASE/strandor.conf"
}
input() { printf '<r><v>1</v><v>2</v></r>\n' >"$CASE/input/$1"; }

# name_case NAME INPUT SETTINGS GRANULARITY OUTPUT CONTENT
name_case() {
    new_case "$1"
    config "$3" "$4"
    input "$2"
    convert
    expect_status "$1" 0
    expect_listing "$1" "$CASE/output" "$5"
    [ -n "$6" ] && expect_file "$1" "$CASE/output/$5" "$6"
    expect_listing "$1: input removed" "$CASE/input" ""
}
name_case day meas_20111110_1345.xml 'VERSION "V1"' 24H 1111101345_D_CELL_V1.data ''
# %5, the source's name less ".gz" and its last extension: a mask with it is filled by
# position, and a "%" in a value stays literal.
name_case source-percent 'p%1_20111110_1345.xml' 'FILE_MASK "%5.%2%9"' 15MIN 'p%1_20111110_1345.Q%9' ''
name_case mask-and-separator meas_20111110_1345.xml \
    'FILE_MASK "%1-%2.tsv" COLUMN_SEPARATOR ";" TIME_FORMAT "dd.MM.yyyy hh:mm"' 15MIN 1111101345-Q.tsv \
    'time;value\n10.11.2011 13:45;1\n10.11.2011 13:45;2\n'
grep -q 'arg:' "$CASE/stderr" && fail "a mask with fewer placeholders warns" || ok

new_case no-stamp; config ''; input meas_20111310_1345.xml
before=$(date +%y%m%d%H%M); convert; after=$(date +%y%m%d%H%M)
expect_run "no stamp" 0 "WARNING: could not extract date/time from input file name - using current time" \
    'INFO: input file extensions is not "_yyyyMMdd_hhmm.xml"'
out=$(ls "$CASE/output")
[ "$out" = "${before}_Q_CELL_.data" ] || [ "$out" = "${after}_Q_CELL_.data" ] && ok || fail "no stamp: current time in '$out'"

# The first matching description wins. An empty COLUMNS list gives an empty header and a
# bare line feed per element end.
new_case first-match
cat >"$CASE/strandor.conf" <<'CONF'
GLOBALS { }
INPUTFILE "CELL" { GENERATES MEASUREMENT { MEASUREMENTNAME "first" GRANULARITY EVENT MATCH { VOID } COLUMNS { } } }
INPUTFILE "^CELL_" { GENERATES MEASUREMENT { MEASUREMENTNAME "second" GRANULARITY EVENT MATCH { VOID } COLUMNS { } } }
CONF
input CELL_20111110_1345.xml
convert
expect_status "first match" 0
expect_file "first match, empty columns" "$CASE/output/1111101345_E_first_.data" '\n\n\n\n'

# Names are bytes: one not UTF-8 is converted with its stamp; names are logged escaped.
new_case name-bytes; config ''; input $'A20240611.1400-1415_lat\xe9.xml'; input $'a\nb_20240101_0001.xml'
convert
expect_run "name bytes" 0 'INFO: processing file = A20240611.1400-1415_lat\xE9.xml' \
    'INFO: processing file = a\nb_20240101_0001.xml' "Info (2/2) Prozesse erfolgreich konvertiert"
expect_file "name bytes" "$CASE/output/2406111400_Q_CELL_.data" 'time\tvalue\n240611 14:00\t1\n240611 14:00\t2\n'
expect_listing "name bytes: inputs removed" "$CASE/input" ""

# A configuration in UTF-8 is read so: element and measurement names as written.
new_case utf8-config
printf '%s\n' 'GLOBALS { }' 'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "zählung" GRANULARITY EVENT' \
    '  MATCH { NEEDS "meßwert" } COLUMNS { ATTRIBUTE ( "meßwert" ) "wert" } } }' >"$CASE/strandor.conf"
printf '<d><meßwert>1</meßwert><meßwert>2</meßwert></d>' >"$CASE/input/a_20111110_1345.xml"
convert
expect_status "UTF-8 configuration" 0
expect_file "UTF-8 configuration" "$CASE/output/1111101345_E_zählung_.data" 'wert\n1\n2\n'

# Two nodes of one quarter hour, left in place at -d 1. With %5 each keeps its own output;
# delivered again, a file finds its output in place, byte for byte, and counts as converted
# before; one with other data fails with a hint and stays. Without %5 the second collides
# with the first.
nodes() {
    new_case "$1"
    config "$2"
    input A20200101.1400+0100-1415+0100_NodeA.xml
    printf '<r><v>3</v></r>\n' >"$CASE/input/A20200101.1400+0100-1415+0100_NodeB.xml"
    convert -d 1
}
nodes nodes 'FILE_MASK "%5.%2"'
expect_status "nodes" 0
a=A20200101.1400+0100-1415+0100_NodeA b=A20200101.1400+0100-1415+0100_NodeB
expect_listing "nodes" "$CASE/output" "$a.Q $b.Q"
touch -d '2001-01-01' "$CASE"/output/*
saved=$(cd "$CASE/output" && stat -c %Y:%s * && md5sum *)
printf '<r><v>4</v></r>\n' >"$CASE/input/$b.xml"
convert
expect_run "delivered again" 1 "INFO: $CASE/output//$a.Q is in place with the same content - $a.xml was converted before" \
    "ERROR: file $CASE/output//$b.Q already exists - aborting " \
    "HINT: $CASE/output//$b.Q holds other data; move it away to convert $b.xml" "Info (1/2) Prozesse erfolgreich konvertiert"
[ "$(cd "$CASE/output" && stat -c %Y:%s * && md5sum *)" = "$saved" ] && ok || fail "delivered again: the existing files changed"
expect_listing "delivered again: nothing new" "$CASE/output" "$a.Q $b.Q"
expect_listing "delivered again: the changed input stays" "$CASE/input" "$b.xml"
nodes nodes-collide ''
expect_run "nodes collide" 1 "ERROR: file $CASE/output//2001011400_Q_CELL_.data already exists - aborting " \
    "HINT: several input files map to this output name; put %5 into FILE_MASK to keep one output per input file"

# Description errors found when the output files are opened.
desc_case() {
    new_case "$1"
    printf 'GLOBALS { }\nINPUTFILE "xml" { %s }\n' "$2" >"$CASE/strandor.conf"
    input a_20111110_1345.xml
    convert
    expect_failed "$1" 1 a_20111110_1345.xml "$3" "ERROR: could not open output files"
}
desc_case no-measurement '' "ERROR: MEASUREMENT expected"
desc_case no-name 'GENERATES MEASUREMENT { GRANULARITY EVENT }' "ERROR: no MEASUREMENTNAME specified"
desc_case no-granularity 'GENERATES MEASUREMENT { MEASUREMENTNAME "M" }' "ERROR: no GRANULARITY in MEASUREMENT M specified!"
desc_case no-columns 'GENERATES MEASUREMENT { MEASUREMENTNAME "M" GRANULARITY EVENT MATCH { VOID } }' "ERROR: no COLUMNS{} found"
desc_case no-match 'GENERATES MEASUREMENT { MEASUREMENTNAME "M" GRANULARITY EVENT COLUMNS { } }' "ERROR: MATCH subelement expected"
desc_case empty-match 'GENERATES MEASUREMENT { MEASUREMENTNAME "M" GRANULARITY EVENT MATCH { } COLUMNS { } }' "ERROR: VOID or NEEDS subelement expected"
desc_case second-fails 'GENERATES MEASUREMENT { MEASUREMENTNAME "A" GRANULARITY EVENT MATCH { VOID } COLUMNS { } }
  GENERATES MEASUREMENT { MEASUREMENTNAME "B" GRANULARITY EVENT COLUMNS { } }' "ERROR: MATCH subelement expected"
desc_case same-name 'GENERATES MEASUREMENT { MEASUREMENTNAME "M" GRANULARITY EVENT MATCH { VOID } COLUMNS { } }
  GENERATES MEASUREMENT { MEASUREMENTNAME "M" GRANULARITY EVENT MATCH { VOID } COLUMNS { } }' \
    "ERROR: file $WORK/same-name/output//1111101345_E_M_.data already exists - aborting "
expect_no_log same-name "HINT"
# Column names: 31 characters fail before anything is published, 30 pass.
desc_case header-size 'GENERATES MEASUREMENT { MEASUREMENTNAME "M" GRANULARITY EVENT MATCH { VOID }
  COLUMNS { ATTRIBUTE ( "v" ) "abcdefghijabcdefghijabcdefghijX" } }' \
    'ERROR: not allowed column size for "abcdefghijabcdefghijabcdefghijX" > 30 chars'
sed -i 's/ghijX"/ghij"/' "$CASE/strandor.conf"
convert
expect_status "30 characters" 0

# A file that gives no record is converted with a warning, or fails with -z; others say
# how much they gave. A backslash in COLUMN_SEPARATOR is no escape, and is said so.
new_case no-record
config 'COLUMN_SEPARATOR "\t"'
printf '<r><w>1</w></r>' >"$CASE/input/a_20111110_1345.xml"
input b_20111110_1400.xml
convert -z
expect_run "-z" 1 "ERROR: a_20111110_1345.xml gave no record" "INFO: b_20111110_1400.xml: 2 records in 1 output files" \
    'WARNING: COLUMN_SEPARATOR "\t" holds a backslash; quoted strings have no escapes - write the separator itself between the quotes'
expect_listing "-z keeps the empty one" "$CASE/input" "a_20111110_1345.xml"
convert
expect_run "no record" 0 "WARNING: a_20111110_1345.xml gave no record" "INFO: a_20111110_1345.xml: 0 records in 1 output files"
expect_file "no record: the header" "$CASE/output/1111101345_Q_CELL_.data" 'time\\tvalue\n'

# Lists of unequal length pair what they have, and say so once per file.
new_case unequal-lists
printf '%s\n' 'GLOBALS { }' 'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "L" GRANULARITY 15MIN' \
    '  MATCH { NEEDS "v" -> "res" } COLUMNS { LISTATTRIBUTE ( "types" ) "t" LISTATTRIBUTE ( "v" -> "res" ) "r" } } }' >"$CASE/strandor.conf"
printf '<i><types>a b c</types>\n<v><res>1 2 3</res></v>\n<v><res>1 2</res></v>\n<v><res>1</res></v></i>' >"$CASE/input/a_20111110_1345.xml"
convert
expect_run "unequal lists" 0 "WARNING: a_20111110_1345.xml: 6 records paired lists of unequal length, the first in line 3"

# Two workers racing for one output name: exactly one wins, the file is one whole output.
for round in 1 2 3 4 5; do
    new_case "race-$round"
    config ''
    perl -e 'print "<r>", "<v>a</v>" x 20000, "</r>"' >"$CASE/input/a_20111110_1345.xml"
    perl -e 'print "<r>", "<v>b</v>" x 20000, "</r>"' >"$CASE/input/b_20111110_1345.xml"
    convert -t 2
    expect_run "race $round" 1 "Info (1/2) Prozesse erfolgreich konvertiert" \
        "ERROR: file $CASE/output//1111101345_Q_CELL_.data already exists - aborting "
    expect_listing "race $round output" "$CASE/output" "1111101345_Q_CELL_.data"
    values=$(tail -n +2 "$CASE/output/1111101345_Q_CELL_.data" | cut -f2 | sort | uniq -c | awk '{print $1 ":" $2}')
    [ "$values" = "20000:a" ] || [ "$values" = "20000:b" ] && ok || fail "race $round: mixed output '$values'"
    [ "$(ls "$CASE/input" | wc -l)" -eq 1 ] && ok || fail "race $round: the loser's input stays"
done

# Names without a stamp: the stamp comes from the content (an MR report, a 28.532 file), the
# element from whichever path the file has, and converted again they find their outputs.
new_case content-stamp
printf '%s\n' 'GLOBALS { FILE_MASK "%5_%3.data" OUTPUT_FORMAT TSV }' 'INPUTFILE "xml$" {' \
    '  STAMP ( "fileHeader" -> "measData", "beginTime" ) OR ( "bulkPmMrDataFile" -> "fileHeader", "startTime" )' \
    '  GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY 15MIN MATCH { NEEDS "r" } COLUMNS { UTC_FILESTAMP "stamp"' \
    '    ARGATTRIBUTE ( "measData" -> "managedElement", "localDn" ) OR ( "measData" -> "measEntity", "localDn" ) "element"' \
    '    CONVERTATTRIBUTE ISO8601_TO_UTC ( "granPeriod", "endTime" ) "end" ATTRIBUTE ( "r" ) "v" } } }' >"$CASE/strandor.conf"
mr=FDD-LTE_MRO_ZTE_OMC1_292551_20220622113000.xml; lte=A_LTE_20220622.1130+0800-1145+0800_003064.GRBBU.xml
deliver() {
    printf '<bulkPmMrDataFile><fileHeader startTime="2022-06-22T11:30:00.000"/><measData><managedElement localDn="ME1"/><granPeriod endTime="2022-06-22T11:45:00+02:00"/><r>5</r></measData></bulkPmMrDataFile>' >"$CASE/input/$mr"
    printf '<f><fileHeader><measData beginTime="2022-06-22T11:30:00+08:00"/></fileHeader>\n<measData><measEntity localDn="GRBBU1"/><granPeriod endTime="soon"/><r>7</r></measData></f>' >"$CASE/input/$lte"
}
deliver
convert
expect_run "content-stamp" 0 "WARNING: $lte: 1 values of column end could not be converted, the first in line 2"
expect_file "content-stamp: MR" "$CASE/output/${mr%.xml}_v.data" 'stamp\telement\tend\tv\n220622 11:30\tME1\t220622 09:45\t5\n'
expect_file "content-stamp: 28.532" "$CASE/output/${lte%.xml}_v.data" 'stamp\telement\tend\tv\n220622 11:30\tGRBBU1\t\\N\t7\n'
deliver
convert
expect_run "content-stamp again" 0 "INFO: $CASE/output//${mr%.xml}_v.data is in place with the same content - $mr was converted before" \
    "INFO: $CASE/output//${lte%.xml}_v.data is in place with the same content - $lte was converted before"

# KEEP over a real file: the kept records are the full output's, filtered by the same pattern.
new_case keep
cp "$TESTS_DIR/cases/real_pm/input/A20220418.1900-1915_seliitdus00487.xml" "$CASE/input/a_20220418_1900.xml"
sed 's/^    MEASUREMENTNAME "named"$/&\n    KEEP "counter" MATCHING "^pmRrc"/' "$TESTS_DIR/cases/real_pm/strandor.conf" >"$CASE/strandor.conf"
convert
awk -F'\t' 'NR == 1 || $2 ~ /^pmRrc/' "$TESTS_DIR/cases/real_pm/expected/2204181900_Q_named_R1.data" >"$CASE/kept"
[ "$(wc -l <"$CASE/kept")" -gt 10 ] && cmp -s "$CASE/kept" "$CASE/output/2204181900_Q_named_R1.data" && ok || fail "keep: not the filtered output"

finish
