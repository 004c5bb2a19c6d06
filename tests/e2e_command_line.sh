#!/bin/bash
# Command line, run parameters, configuration file errors and start-up of the real binary.
. "$(dirname "$0")/lib.sh"

# What -h prints: the banner (its first four lines, all that -v prints), then the usage.
HELP=$TESTS_DIR/data/help.txt

new_case banner
for option in "-v 4" "--version 4" "-h 1000" "--help 1000"; do
    run_strandor ${option% *}
    expect_status "$option" 0
    head -${option#* } "$HELP" | cmp -s - "$CASE/stdout" && [ ! -s "$CASE/stderr" ] && ok || fail "$option: not exactly that output"
done

# Configuration file problems; the input directory is not looked at before.
new_case config
run_strandor -c "$CASE/missing.conf" -i "$CASE/nowhere"
expect_run "missing configuration" 2 "ERROR: could not open configuration file \"$CASE/missing.conf\"" \
    "ERROR: system strerror() No such file or directory" "ERROR: error in configuration file"
expect_no_log "missing configuration" "input path"

printf 'GLOBALS {\n}\nINPUTFILE "x" {\n  GENERATES MEASUREMENT {\n    MATCH { AND VOID }\n  }\n}\n' >"$CASE/broken.conf"
run_strandor -c "$CASE/broken.conf"
expect_run "broken configuration" 6 "syntax error in line 5" "HINT: unexpected VOID, expected NEEDS" \
    "ERROR: during global_parse() - file was: \"$CASE/broken.conf\"" "ERROR: error in configuration file"

# Regular expressions are compiled at start: each invalid one is named with its line.
printf 'GLOBALS { }\nINPUTFILE "[x" {\n GENERATES MEASUREMENT { COLUMNS {\n REGEXPATTRIBUTE ( "v", "(a" ) "r" } } }\n' >"$CASE/regexp.conf"
run_strandor -c "$CASE/regexp.conf"
expect_run "invalid regular expressions" 6 "ERROR: invalid regular expression \"[x\" in line 2: unexpected end" \
    "ERROR: invalid regular expression \"(a\" in line 4: unexpected end" "ERROR: error in configuration file"
expect_no_log "invalid regular expressions" "global_parse"
# AT_END columns of a measurement wait for one group, of a path of two steps or more.
printf '%s\n' 'GLOBALS { }' 'INPUTFILE "x" { GENERATES MEASUREMENT { COLUMNS {' ' ATTRIBUTE ( "a" -> "b" ) "ok" AT_END' \
    ' ATTRIBUTE ( "c" -> "d" ) "other" AT_END' ' LISTATTRIBUTE ( "a" -> "l" ) "list" AT_END' ' ATTRIBUTE ( "e" ) "short" AT_END' \
    ' UTC_FILESTAMP "t" AT_END } } }' >"$CASE/at_end.conf"
run_strandor -c "$CASE/at_end.conf"
only="only a column with an element path, and no LISTATTRIBUTE, can be AT_END"
expect_run "AT_END faults" 6 \
    "ERROR: AT_END column \"other\" in line 4: its group \"c\" is not \"a\", the group of the other AT_END columns of its measurement" \
    "ERROR: AT_END column \"list\" in line 5: $only" "ERROR: AT_END column \"t\" in line 7: $only" \
    "ERROR: AT_END column \"short\" in line 6: its path needs two steps or more: the group whose end it waits for, and its element" \
    "ERROR: error in configuration file"

# A configuration file that opens but cannot be read: the scanner's fatal error, status 2.
run_strandor -c "$CASE/input"
expect_status "unreadable configuration" 2
grep -q "input in flex scanner failed" "$CASE/stderr" && ok || fail "unreadable configuration: scanner message"

printf 'GLOBALS { VERSION "V1" }\nINPUTFILE "^x" { GENERATES MEASUREMENT { MATCH { NEEDS "a" -> "b" } } }\n' >"$CASE/v1.conf"

# Paths: -i and -o gain a "/", the dump shows every parameter.
run_strandor -c "$CASE/v1.conf" -i "$CASE/input/" -o /data/out -t 3 -s 4294967294/4294967295
[ "$(grep -A1 'INFO: max header size' "$CASE/log" | tail -1)" = "INFO: shard: <4294967294/4294967295>" ] && ok || fail "dump: shard last"
expect_log "dump" "INFO: input_path: <$CASE/input//>" "INFO: output_path: </data/out/>" \
    "INFO: parallel processes: 3" "INFO: debug_level: 0" "INFO: file mask: <%1_%2_%3_%4.data>" \
    "INFO: time format: <yyMMdd hh:mm>" "$(printf 'INFO: column separator: <\t>')" "INFO: max header size: <30>" "INFO: minimum age: <0 s>" "INFO: metrics file: <>" \
    "INFO: quarantine directory: <>" "INFO: archive directory: <>" "INFO: absent values: <KEEP>" \
    "INFO: configuration file: $CASE/v1.conf" "INFO: strandor will execute 3 processes parallel"
[ "$(grep -c 'strandor - fast flexible data converter' "$CASE/log")" -eq 1 ] && ok || fail "dump once at level 0"
expect_no_log "-d 0 lists no tree" "INPUTFILE = ^x"

# Debug levels gate exactly: level 1 dumps twice plus the tree, level 3 shows traces.
run_strandor -c "$CASE/v1.conf" -i "$CASE/input" -o "$CASE/output" -d 1
[ "$(grep -c 'strandor - fast flexible data converter' "$CASE/log")" -eq 2 ] && ok || fail "dump twice at level 1"
expect_log "level 1" "INFO: no more files to process running: 0" "INPUTFILE = ^x" "                POINTER = b"
expect_no_log "level 1" "CALLED:"
run_strandor -c "$CASE/v1.conf" -i "$CASE/input" -o "$CASE/output" -d 0x3
expect_log "level 3" "CALLED: GL_PARAM::read_configuration()" "CALLED: fork_new_process()" "FINISH: parse_global()"
expect_no_log "level 3" "parsing file"
expect_no_log "level 3, before the options are read" "CALLED: main()"

# Paths with non-ASCII characters are taken as the file system names them.
mkdir -p "$CASE/Süd/in" "$CASE/Süd/out"
printf 'GLOBALS { }\nINPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "m" GRANULARITY EVENT MATCH { VOID } COLUMNS { } } }\n' >"$CASE/Süd/ü.conf"
printf '<r/>' >"$CASE/Süd/in/a_20240101_0001.xml"
run_strandor -c "$CASE/Süd/ü.conf" -i "$CASE/Süd/in" -o "$CASE/Süd/out"
expect_run "non-ASCII paths" 0 "INFO: input_path: <$CASE/Süd/in/>"
expect_listing "non-ASCII paths" "$CASE/Süd/out" "2401010001_E_m_.data"

# Input directory: missing, a plain file, empty.
for path in nowhere v1.conf; do
    run_strandor -c "$CASE/v1.conf" -i "$CASE/$path"
    expect_run "input path $path" 1 "ERROR: input path $CASE/$path/ does not exist"
done
run_strandor -c "$CASE/v1.conf" -i "$CASE/input" -o "$CASE/output"
expect_run "empty input directory" 0 "Info: Main Program terminated"
[ "$(tail -1 "$CASE/log")" = "Info (0/0) Prozesse erfolgreich konvertiert" ] && ok || fail "summary is the last line"
# libpq and its libraries are loaded only by a run with -D.
ldd "$STRANDOR" | grep -q libpq && fail "libpq is linked" || ok

finish
