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
    expect_listing "$name output" "$CASE/output" "$(ls -A "$dir/expected" | tr '\n' ' ' | sed 's/ $//')"
    for f in "$dir"/expected/*; do
        [ -e "$f" ] || continue
        if cmp -s "$f" "$CASE/output/$(basename "$f")"; then ok; else
            fail "$name: $(basename "$f") differs"; diff "$f" "$CASE/output/$(basename "$f")" | head -5 >&2; fi
    done
    if [ -f "$dir/remaining" ]; then
        expect_listing "$name input" "$CASE/input" "$(tr '\n' ' ' <"$dir/remaining" | sed 's/ $//')"
    fi
    if [ -f "$dir/log" ]; then
        while IFS= read -r line; do expect_log "$name" "${line//\$CASE/$CASE}"; done <"$dir/log"
    fi
done
finish
