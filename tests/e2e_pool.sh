#!/bin/bash
# The worker pool: listing, order, parallelism, counting and the summary.
. "$(dirname "$0")/lib.sh"

pool_config() { printf '%s\n' 'GLOBALS { VERSION "V1" }' 'INPUTFILE "\.xml$" { GENERATES MEASUREMENT { MEASUREMENTNAME "item"' \
    '  GRANULARITY EVENT MATCH { NEEDS "item" } COLUMNS { ATTRIBUTE ( "item" ) "value" } } }' >"$CASE/strandor.conf"; }

# Three files named without regard to case, plus what must never reach a worker.
for t in 1 2; do
    new_case "three-t$t"
    pool_config
    for name in c_20240101_0003 a_20240101_0001 B_20240101_0002; do printf '<r><item>%s</item></r>\n' $name >"$CASE/input/$name.xml"; done
    printf '<r/>' >"$CASE/input/.hidden_20240101_0004.xml"
    mkdir "$CASE/input/sub_20240101_0005.xml"
    mkfifo "$CASE/input/fifo_20240101_0006.xml"
    convert -t $t -d 1
    expect_run "-t $t" 0 "Info (3/3) Prozesse erfolgreich konvertiert" "INFO: strandor will execute $t processes parallel"
    handed=$(sed -n 's/^INFO: processing file = //p' "$CASE/log" | tr '\n' ' ')
    # One worker hands out in case-insensitive order; two hand out each file once.
    [ $t = 2 ] && handed=$(echo $handed | tr ' ' '\n' | sort -f | tr '\n' ' ')
    [ "$handed" = "a_20240101_0001.xml B_20240101_0002.xml c_20240101_0003.xml " ] && ok || fail "-t $t hands out: $handed"
    expect_listing "-t $t output" "$CASE/output" "2401010001_E_item_V1.data 2401010002_E_item_V1.data 2401010003_E_item_V1.data"
    # Debug level 1 leaves converted input in place.
    expect_listing "-t $t input stays at -d 1" "$CASE/input" ".hidden_20240101_0004.xml B_20240101_0002.xml a_20240101_0001.xml c_20240101_0003.xml fifo_20240101_0006.xml sub_20240101_0005.xml"
    # Worker lines carry the worker's pid, pool lines the parent's.
    parent=$(sed -n 's/^\[\([0-9]*\)\].*strandor will execute.*/\1/p' "$CASE/stderr")
    workers=$(sed -n 's/^\[\([0-9]*\)\].*INFO: processing file = .*/\1/p' "$CASE/stderr" | sort -u | wc -l)
    [ "$workers" -eq 3 ] && ! grep -q "^\[$parent\].*processing file" "$CASE/stderr" && ok || fail "-t $t worker pids"
done

# A failing worker (no description matches: patterns are case-sensitive) is counted as
# failed; the rest go on.
new_case failing
pool_config
printf '<r><item>x</item></r>' >"$CASE/input/a_20240101_0001.xml"
printf 'not for us' >"$CASE/input/b_20240101_0002.XML"
printf '<r><item>y</item></r>' >"$CASE/input/c_20240101_0003.xml"
convert -t 1 -d 1
expect_run "failing worker" 1 "Info (2/3) Prozesse erfolgreich konvertiert" "ERROR: file cannot be processed" \
    "ERROR: no matching record description for $CASE/input//b_20240101_0002.XML" \
    "INFO: Process $(sed -n 's/^\[\([0-9]*\)\].*processing file = b_.*/\1/p' "$CASE/stderr") gestorben mit return Wert 22 und beerdigt"

# A worker killed by a signal is counted as failed, and its input stays.
new_case killed
pool_config
perl -e 'print "<r>\n"; print "<x>", "a" x 60, "</x>\n" for 1..1500000; print "<item>x</item></r>\n"' \
    >"$CASE/input/big_20240101_0001.xml"
( cd "$CASE" && exec "$STRANDOR" -c strandor.conf -i input -o output >stdout 2>stderr ) & parent=$!
child() { child=$(pgrep -P $parent | head -1); [ -n "$child" ]; }
wait_until child && kill -KILL "$child"
wait $parent; STATUS=$?; strip_log "$CASE/stderr" >"$CASE/log"
expect_failed "killed worker" 1 big_20240101_0001.xml "ERROR: Prozess $child abgebrochen durch Signal 9" \
    "Info (0/1) Prozesse erfolgreich konvertiert"

finish
