#!/bin/sh
# Converts a copy of each example input with its configuration and shows the result:
# examples/input (cell reports), examples/3gpp (a 3GPP delivery of one quarter hour, also
# with counter names beside their values) and examples/3gpp-lists (the list form).
set -e
cd "$(dirname "$0")/.."
status=0
# run NAME CONFIG INPUT
run() {
    work=build/example/$1
    rm -rf "$work"
    mkdir -p "$work/output"
    cp -r "$3" "$work/input"
    TZ=Europe/Berlin ./build/src/driver/strandor -c "$2" -i "$work/input" -o "$work/output" -t 2 || status=$?
    for f in "$work"/output/*; do
        echo "==> $f <=="
        cat "$f"
    done
}
run cells examples/strandor.conf examples/input
run 3gpp examples/3gpp/strandor.conf examples/3gpp/input
run 3gpp-named examples/3gpp/named.conf examples/3gpp/input
run 3gpp-lists examples/3gpp-lists/strandor.conf examples/3gpp-lists/input
exit $status
