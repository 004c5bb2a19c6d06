#!/bin/sh
# Converts a copy of the example input with the example configuration and shows the result.
set -e
cd "$(dirname "$0")/.."
work=build/example
rm -rf "$work"
mkdir -p "$work/output"
cp -r examples/input "$work/input"
status=0
TZ=Europe/Berlin ./build/src/driver/strandor -c examples/strandor.conf -i "$work/input" -o "$work/output" -t 2 || status=$?
for f in "$work"/output/*; do
    echo "==> $f <=="
    cat "$f"
done
exit $status
