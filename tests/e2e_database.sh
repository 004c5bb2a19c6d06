#!/bin/bash
# Records in other formats and straight into a private PostgreSQL server: TSV and CSV read
# back by their loaders, gzip outputs, and -D loading every file exactly once, whatever
# is killed or stopped when.
. "$(dirname "$0")/lib.sh"
. "$TESTS_DIR/pg.sh"
# The shim is preloaded before the sanitizers' runtime.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

# A value with a tab, a line feed, a backslash, a carriage return and a CDATA section, an
# empty one, and columns without value.
odd_conf() {
    printf '%s\n' "GLOBALS { FILE_MASK \"%3_%5.$1\" ABSENT_VALUES EMPTY $2 }" \
        'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "odd" GRANULARITY EVENT MATCH { NEEDS "r" }' \
        '  COLUMNS { ARGATTRIBUTE ( "r", "id" ) "id" ATTRIBUTE ( "r" -> "v" ) "v" ATTRIBUTE ( "r" -> "w" ) "w	x" } } }' >"$CASE/strandor.conf"
    printf '<d><r id="a&#9;b"><v>x&#10;y\\z&#13;</v><w>q,"r"</w></r><r id=""><v><![CDATA[c\td]]></v></r></d>' \
        >"$CASE/input/odd_20240101_1200.xml"
}

# Configuration faults of the formats: status 6 and the reason.
new_case formats
while IFS='|' read -r settings message; do
    printf 'GLOBALS { %s }\n' "$settings" >"$CASE/strandor.conf"
    convert
    expect_run "$settings" 6 "$message" "ERROR: error in configuration file"
done <<'TABLE'
OUTPUT_FORMAT TSV COLUMN_SEPARATOR "\"|ERROR: COLUMN_SEPARATOR "\" cannot be used with OUTPUT_FORMAT TSV: it must be a single ASCII character other than backslash, carriage return and line feed
OUTPUT_FORMAT TSV COLUMN_SEPARATOR "ab"|ERROR: COLUMN_SEPARATOR "ab" cannot be used with OUTPUT_FORMAT TSV: it must be a single ASCII character other than backslash, carriage return and line feed
OUTPUT_FORMAT CSV COLUMN_SEPARATOR ""|ERROR: COLUMN_SEPARATOR "" cannot be used with OUTPUT_FORMAT CSV: it must be a single ASCII character other than double quote, carriage return and line feed
COMPRESSION_LEVEL 0|ERROR: COMPRESSION_LEVEL 0 is out of range: it must be 1 to 9
COMPRESSION_LEVEL 10|ERROR: COMPRESSION_LEVEL 10 is out of range: it must be 1 to 9
TABLE

# TSV as COPY reads it, CSV as RFC 4180 says, gzip-compressed and read back.
for format in TSV CSV; do
    new_case "odd_$format"
    odd_conf txt.gz "OUTPUT_FORMAT $format"
    convert
    expect_status "$format" 0
    out=$CASE/output/odd_odd_20240101_1200.txt.gz
    gzip -t "$out" && ok || fail "$format: not a gzip file"; gzip -dc "$out" >"$CASE/plain"
    if [ $format = TSV ]; then
        expect_file "$format" "$CASE/plain" 'id\tv\tw\\tx\na\\tb\tx\\ny\\\\z\\r\tq,"r"\n\tc\\td\t\\N\n'
    else
        expect_file "$format" "$CASE/plain" 'id,v,w\tx\na\tb,"x\ny\\z\r","q,""r"""\n,c\td,\n'
        python3 -c 'import csv, sys; sys.exit(list(csv.reader(open(sys.argv[1], newline=""))) != [["id", "v", "w\tx"], ["a\tb", "x\ny\\z\r", "q,\"r\""], ["", "c\td", ""]])' \
            "$CASE/plain" && ok || fail "$format: Python's csv reads other values"
        # pandas as the README reads CSV, straight from the output; Debian's, not a
        # Python of the user's.
        if /usr/bin/python3 -c 'import pandas' 2>/dev/null; then
            /usr/bin/python3 -c 'import pandas, sys
c = pandas.read_csv(sys.argv[1], dtype=str, keep_default_na=False, na_values=[""])
sys.exit(c.fillna("-").values.tolist() != [["a\tb", "x\ny\\z\r", "q,\"r\""], ["-", "c\td", "-"]])' "$out" && ok || fail "$format: pandas reads other values"
        else
            skip "pandas not installed (package python3-pandas)"
        fi
    fi
done
# A file delivered again finds its gzip output in place, byte for byte.
odd_conf txt.gz "OUTPUT_FORMAT CSV"
convert
expect_run "gzip output again" 0 "INFO: $CASE/output//odd_odd_20240101_1200.txt.gz is in place with the same content - odd_20240101_1200.xml was converted before"

new_case options
# The forms of a secret are the unit tests'; none reaches the log.
run_strandor -D "postgresql:///x?sslpassword=secret"
expect_run "-D with a secret" 4 "ERROR: -D cannot be used: it holds a password; give it in PGPASSFILE (~/.pgpass) or PGPASSWORD instead"
expect_no_log "-D with a secret" secret
# A database out of reach fails no file: each stays for the next run, none is quarantined.
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 2 1
mkdir "$CASE/q"
convert -e "$CASE/q" -D "host=/nonexistent dbname=postgres"
expect_run "database out of reach" 1 "INFO: f00001_20000101_0002.xml stays for the next run: its conversion failed for a reason outside the file"
expect_listing "database out of reach" "$CASE/q" ""

pg_start || { finish; exit; }
export PGTZ=UTC

# The real files, as TSV files and loaded with -D -C: the same rows, column by column.
new_case real_pm
cp -r "$TESTS_DIR/cases/real_pm/input/." "$CASE/input/"
sed 's/^GLOBALS {/GLOBALS { OUTPUT_FORMAT TSV/' "$TESTS_DIR/cases/real_pm/strandor.conf" >"$CASE/strandor.conf"
cp -r "$CASE/input" "$CASE/load"
convert
run_strandor -c "$CASE/strandor.conf" -i "$CASE/load" -D "dbname=postgres" -C -m "$CASE/metrics"
expect_status "real files loaded" 1
expect_listing "real files loaded" "$CASE/load" "$(cat "$TESTS_DIR/cases/real_pm/remaining")"
grep -qx 'strandor_records_total{shard="0/1"} 12652' "$CASE/metrics" && ok || fail "real files: records in the metrics"
for table in omes counters counter_names counter_lists named named_lists suspect; do
    columns=$(head -qn1 "$CASE"/output/*_"$table"_R1.data | head -1 | sed 's/\t/", "/g')
    tail -qn +2 "$CASE"/output/*_"$table"_R1.data | sort >"$CASE/file_rows"
    psql_q "COPY (SELECT \"$columns\" FROM $table) TO STDOUT" | sort >"$CASE/db_rows"
    [ -s "$CASE/db_rows" ] && cmp -s "$CASE/file_rows" "$CASE/db_rows" && ok || fail "real files: table $table differs from its files"
done
expect_log "loaded" "INFO: A20181002.0000-1000-0015-1000_5G.xml: 71 records loaded into 6 tables"
[ "$(psql_q "SELECT count(*) FROM strandor_files")" = 11 ] && ok || fail "real files: the ledger lacks files"
# The README's command for TSV files.
psql_q "CREATE TABLE counters_again (LIKE counters)"
for f in "$CASE"/output/*_counters_R1.data; do
    "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -c "\\copy counters_again FROM '$f' (FORMAT text, HEADER MATCH)" || fail "\\copy $f"
done
[ "$(psql_q "SELECT count(*) FROM (SELECT * FROM counters EXCEPT ALL SELECT * FROM counters_again) d")" = 0 ] && ok || fail "\\copy of the files"

# Escapes arrive as the values were; a column without value arrives as NULL.
new_case odd_db
odd_conf txt ""
convert -D "dbname=postgres" -C
expect_status "odd values loaded" 0
[ "$(psql_q "SELECT count(*) FROM odd WHERE id = E'a\\tb' AND v = E'x\\ny\\\\z\\r' AND \"w	x\" = 'q,\"r\"'")" = 1 ] && ok || fail "odd values: first row"
[ "$(psql_q "SELECT count(*) FROM odd WHERE id = '' AND v = E'c\\td' AND \"w	x\" IS NULL")" = 1 ] && ok || fail "odd values: second row"

# Typed tables made by their users are filled without -C: absent values are NULL, not 0.
new_case typed
psql_q "CREATE TABLE typed (t timestamptz, n integer NOT NULL, c bigint)"
printf '%s\n' 'GLOBALS { TIME_FORMAT "yyyy-MM-dd hh:mm" ABSENT_VALUES EMPTY }' \
    'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "typed" GRANULARITY EVENT MATCH { NEEDS "r" }' \
    '  COLUMNS { UTC_FILESTAMP "t" ARGATTRIBUTE ( "r", "n" ) "n" ATTRIBUTE ( "r" -> "c" ) "c" } } }' >"$CASE/strandor.conf"
printf '<d><r n="1"><c>5000000000</c></r><r n="2"/></d>' >"$CASE/input/t_20240101_1215.xml"
convert -D "dbname=postgres"
expect_status "typed table" 0
[ "$(psql_q "SELECT string_agg(t || ' ' || n || ' ' || coalesce(c::text, 'null'), ',' ORDER BY n) FROM typed")" = \
    "2024-01-01 12:15:00+00 1 5000000000,2024-01-01 12:15:00+00 2 null" ] && ok || fail "typed table: $(psql_q 'SELECT * FROM typed')"
# A value the column's type refuses fails the file, which stays; nothing of it is loaded.
printf '<d><r n="3"/><r n="x"/></d>' >"$CASE/input/t_20240101_1230.xml"
mkdir "$CASE/bad"
convert -D "dbname=postgres" -e "$CASE/bad"
expect_run "refused value" 1 'ERROR: database: invalid input syntax for type integer: "x" (COPY typed, line 2, column n: "x")'
expect_listing "refused value quarantined" "$CASE/bad" t_20240101_1230.xml
[ "$(psql_q "SELECT count(*) FROM typed")" = 2 ] && ok || fail "refused value: rows of the failed file"
# A missing table, and the dry run's checks.
sed -i 's/"typed"/"missing"/' "$CASE/strandor.conf"
mv "$CASE/bad/t_20240101_1230.xml" "$CASE/input/t_20240101_1245.xml"
convert -D "dbname=postgres" -n
expect_run "dry run, missing table" 1 'ERROR: database: table "missing" does not exist' 'INFO: t_20240101_1245.xml: would load table "missing"'
convert -D "dbname=postgres"
expect_run "missing table" 1 'ERROR: database: relation "missing" does not exist'
expect_listing "missing table" "$CASE/input" t_20240101_1245.xml

# Killed before the commit, and after it before the input goes: a rerun loads every
# record exactly once.
new_case killed
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 3 4
# Each file has a worker of its own, which commits once.
for shim in COMMIT:1:die COMMIT:1:kill; do
    STRANDOR_SHIM=$shim LD_PRELOAD=$SHIM convert -D "dbname=postgres" -C
done
expect_log "notice of the second -C" 'INFO: database: relation "strandor_files" already exists, skipping'
expect_listing "killed after the commits" "$CASE/input" "f00001_20000101_0001.xml f00001_20000101_0002.xml f00001_20000101_0003.xml"
convert -D "dbname=postgres"
expect_run "rerun after kills" 0 "INFO: f00001_20000101_0001.xml was loaded before - removed" "INFO: f00001_20000101_0003.xml was loaded before - removed"
expect_listing "rerun after kills" "$CASE/input" ""
[ "$(psql_q "SELECT string_agg(v || ':' || n, ' ' ORDER BY v) FROM (SELECT v, count(*) n FROM v GROUP BY v) c")" = "1:4 2:4 3:4" ] \
    && ok || fail "killed: records $(psql_q 'SELECT v, count(*) FROM v GROUP BY v')"

# The server stops during a run: the files fail, stay out of the quarantine, and load after
# its restart.
new_case stopped
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 2 1 10
mkdir "$CASE/q"
STRANDOR_SHIM=COMMIT:1:run STRANDOR_SHIM_RUN="kill -QUIT \$(head -1 $PG_DIR/data/postmaster.pid); while [ -e $PG_DIR/.s.PGSQL.$PG_PORT ]; do sleep 0.1; done" \
    LD_PRELOAD=$SHIM convert -t 1 -D "dbname=postgres" -e "$CASE/q"
expect_run "server stopped" 1 "INFO: f00001_20000101_0010.xml stays for the next run: its conversion failed for a reason outside the file"
[ "$(grep -c '^ERROR: database: ' "$CASE/log")" = 2 ] && ok || fail "server stopped: not one error per file"
expect_listing "server stopped" "$CASE/input" "f00001_20000101_0010.xml f00001_20000101_0011.xml"
pg_restart_server
convert -D "dbname=postgres"
expect_status "after the restart" 0
[ "$(psql_q "SELECT count(*) FROM v WHERE v IN ('10', '11')")" = 2 ] && ok || fail "after the restart: rows"

# A table that another session holds locked: the lock timeout of the connection string ends
# the wait, and the file stays; the statement timeout that it leaves open is set.
new_case locked
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 1 1 12
PGAPPNAME=locker "$PG_BIN/psql" -X -q -c "BEGIN" -c "LOCK TABLE v IN ACCESS EXCLUSIVE MODE" -c "SELECT pg_sleep(15)" >/dev/null 2>&1 &
wait_until [ "$(psql_q "SELECT count(*) FROM pg_locks WHERE relation = 'v'::regclass AND granted")" = 1 ]
convert -D "dbname=postgres options='-c lock_timeout=1s -c log_statement=all'"
expect_run "locked table" 1 "ERROR: database: canceling statement due to lock timeout" \
    "INFO: f00001_20000101_0012.xml stays for the next run: its conversion failed for a reason outside the file"
grep -q "statement: SET statement_timeout = '10min'$" "$PG_DIR/log" && ! grep -q "SET lock_timeout" "$PG_DIR/log" && ok || fail "locked table: timeouts"
psql_q "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'locker'" >/dev/null; wait

# A ledger of the earlier version is read by name, size and time, with a warning once, until
# -C gives it the digest; from then on a file is known by its bytes: delivered again with a
# new time it was loaded before, other bytes under the name, size and time of a loaded file
# are loaded.
new_case ledger
counter_conf "$CASE/strandor.conf"
corpus "$CASE/input" 2 1 30
psql_q "CREATE SCHEMA old; CREATE TABLE old.v (t text, v text); CREATE TABLE old.strandor_files (name text NOT NULL, size bigint NOT NULL,
    mtime timestamptz NOT NULL, stamp text, records bigint, host text, loaded_at timestamptz NOT NULL DEFAULT now(), UNIQUE (name, size, mtime))"
old="dbname=postgres options=-csearch_path=old"
convert -D "$old" -n
expect_status "old ledger, dry run" 0
convert -D "$old"
expect_status "old ledger" 0
[ "$(grep -c '^WARNING: database: the ledger strandor_files has no sha256 column - run once with -C; until then a file is known by its name, size and modification time, and new bytes under an old name, size and time are not told apart$' "$CASE/log")" = 1 ] \
    && ok || fail "old ledger: not warned once"
corpus "$CASE/input" 1 1 32
f=f00001_20000101_0032.xml
cp -p "$CASE/input/$f" "$CASE/saved"
convert -D "$old" -C
[ "$(psql_q "SELECT sha256 FROM old.strandor_files WHERE name = '$f'; SELECT indexname FROM pg_indexes WHERE schemaname = 'old'")" = \
    "$(sha256sum <"$CASE/saved" | cut -c1-64)"$'\n'strandor_files_name_sha256 ] && ok || fail "old ledger: not upgraded"
cp "$CASE/saved" "$CASE/input/$f"
convert -D "$old"
expect_run "same bytes, new time" 0 "INFO: $f was loaded before - removed"
printf '<d><v>39</v></d>' >"$CASE/input/$f"
touch -r "$CASE/saved" "$CASE/input/$f"
convert -D "$old"
expect_run "other bytes, same name, size and time" 0 "INFO: $f: 1 records loaded into 1 tables"
[ "$(psql_q "SELECT string_agg(v, ' ' ORDER BY v) FROM old.v WHERE v IN ('32', '39')")" = "32 39" ] && ok || fail "ledger: rows"

finish
