#!/bin/bash
# Outcomes that must not move. The examples, generated documents over every column kind
# and the W3C XML conformance suite are converted, and each document's outcome (refused or
# not, an MD5 of its worker's log and output files) must be the one in
# tests/regression/expected.tsv; after a deliberate change, RECORD=1 rewrites that file.
# The suite's not-well-formed documents must be refused, except where XML 1.0 lets a
# processor that reads no external entity accept them, and two that libxml2 accepts.
. "$(dirname "$0")/lib.sh"
R=$TESTS_DIR/regression
ACCEPTED="xc0445_20000101_0725.xml xc0446_20000101_0726.xml"

set_up() { mkdir -p "$WORK/$1/input"; cp "$2" "$WORK/$1/strandor.conf"; }
set_up examples "$TESTS_DIR/../examples/strandor.conf"
cp "$TESTS_DIR"/../examples/input/* "$WORK/examples/input/"
set_up generated "$R/gen.conf"
perl "$R/gen_docs.pl" "$WORK/generated/input" 20261206 400
mkdir -p "$WORK/xmlconf/input" "$WORK/suite"
unzip -q "$TESTS_DIR/data/xmlconf/xmlts20130923.zip" -d "$WORK/suite"
perl "$R/xmlconf_inputs.pl" "$WORK/suite/xmlconf" "$WORK/xmlconf/input" "$WORK/not-wf" >"$WORK/xmlconf/strandor.conf"

: >"$WORK/actual.tsv"
for corpus in examples generated xmlconf; do
    dir=$WORK/$corpus
    mkdir -p "$dir/output"
    ( cd "$dir" && "$STRANDOR" -c strandor.conf -i input -o output -t 2 -d 4 2>log >/dev/null )
    perl "$R/digest.pl" "$dir" | sed "s/^/$corpus\t/" >>"$WORK/actual.tsv"
done
if [ "${RECORD:-0}" = 1 ]; then cp "$WORK/actual.tsv" "$R/expected.tsv"; fi
if diff "$R/expected.tsv" "$WORK/actual.tsv" >"$WORK/diff"; then ok; else
    fail "outcomes moved:"; head -20 "$WORK/diff" >&2; fi
awk -F'\t' '$1 == "xmlconf" { print $2 "\t" $3 }' "$WORK/actual.tsv" | sort >"$WORK/refused"
accepted=$(awk -F'\t' 'NR == FNR { if ($2 == "") strict[$1] = 1; next } ($1 in strict) && $2 == 0 { print $1 }' \
    "$WORK/not-wf" "$WORK/refused" | tr '\n' ' ' | sed 's/ $//')
echo "xmlconf: $(wc -l <"$WORK/refused") documents, $(grep -c $'\t1$' "$WORK/refused") refused;" \
    "$(awk -F'\t' '$2 == ""' "$WORK/not-wf" | wc -l) must be refused, accepted: $accepted"
[ "$accepted" = "$ACCEPTED" ] && ok || fail "not-well-formed documents accepted: $accepted"
finish
