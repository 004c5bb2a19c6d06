# A private PostgreSQL server for the end-to-end tests, reached over a Unix socket of its
# own; never the machine's cluster. Source after lib.sh; pg_cleanup runs at exit.
PG_PORT=54329   # names the socket file only: the server opens no TCP port
PG_DIR=

# pg_as COMMAND...: as the server's user. initdb refuses to run as root, so root hands
# the server to nobody. The cwd may be unreachable for that user (root's $WORK).
pg_as() {
    ( cd "$PG_DIR" || exit
      if [ "$(id -u)" -eq 0 ]; then exec setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; fi
      exec "$@" )
}

pg_restart_server() {
    pg_as "$PG_BIN/pg_ctl" start -w -s -D "$PG_DIR/data" -l "$PG_DIR/log" \
        -o "-k '$PG_DIR' -c listen_addresses='' -p $PG_PORT -c fsync=off" >/dev/null && return
    fail "PostgreSQL server did not start"; tail -20 "$PG_DIR/log" >&2; return 1
}

pg_start() {
    local initdb
    initdb=$(ls -d /usr/lib/postgresql/*/bin/initdb 2>/dev/null | sort -V | tail -1)
    if [ -z "$initdb" ]; then skip "PostgreSQL server not installed (package postgresql)"; return 1; fi
    PG_BIN=$(dirname "$initdb")
    # The caller's PGHOSTADDR, PGSERVICE, PGPASSWORD, PGOPTIONS... would steer libpq elsewhere.
    unset $(compgen -e | grep '^PG')
    # Outside $WORK, which is 0700 and root's: the server's user must reach its directory.
    PG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/strandor-pg.XXXXXX") || return 1
    chmod 755 "$PG_DIR"
    [ "$(id -u)" -ne 0 ] || chown nobody:nogroup "$PG_DIR"
    if ! pg_as "$initdb" -D "$PG_DIR/data" -U strandor -A trust -E UTF8 --locale=C.UTF-8 \
            >"$PG_DIR/initdb.log" 2>&1; then
        fail "initdb failed"; tail -20 "$PG_DIR/initdb.log" >&2; return 1
    fi
    pg_restart_server || return 1
    export PGHOST=$PG_DIR PGPORT=$PG_PORT PGUSER=strandor PGDATABASE=postgres
}

pg_stop() {
    [ -n "$PG_DIR" ] && [ -f "$PG_DIR/data/postmaster.pid" ] || return 0
    pg_as "$PG_BIN/pg_ctl" stop -w -s -m immediate -D "$PG_DIR/data"
}

pg_cleanup() {
    [ -n "$PG_DIR" ] || return 0
    pg_stop; rm -rf "$PG_DIR"; PG_DIR=
}

# psql_q SQL: the unaligned rows of SQL; stops at the first error.
psql_q() { "$PG_BIN/psql" -X -A -t -q -v ON_ERROR_STOP=1 -c "$1"; }

# Keeps lib.sh's EXIT trap (which removes $WORK) and stops the server first.
pg_chain_trap() { eval "set -- $(trap -p EXIT)"; trap "pg_cleanup; ${3:-}" EXIT; }
pg_chain_trap
