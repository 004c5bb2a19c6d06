#!/bin/bash
# Runs every case of tests/cases on a temporary copy: strandor.conf, input/, expected/
# (the exact output directory), status (the exit status), optional args, remaining
# (the input files left, one per line) and log (lines the log must hold; $CASE stands
# for the case's temporary directory).
. "$(dirname "$0")/lib.sh"

for dir in "$TESTS_DIR"/cases/*/; do
    name=$(basename "$dir")
    new_case "$name"
    cp -r "$dir/input/." "$CASE/input/"
    cp "$dir/strandor.conf" "$CASE/"
    args=$(cat "$dir/args" 2>/dev/null)
    convert $args
    expect_status "$name" "$(cat "$dir/status")"
    if diff -r "$dir/expected" "$CASE/output" >"$CASE/diff"; then ok; else fail "$name: output differs"; head -10 "$CASE/diff" >&2; fi
    [ -f "$dir/remaining" ] && expect_listing "$name input" "$CASE/input" "$(tr '\n' ' ' <"$dir/remaining" | sed 's/ $//')"
    [ -f "$dir/log" ] && while IFS= read -r line; do expect_log "$name" "${line//\$CASE/$CASE}"; done <"$dir/log"
done
finish
