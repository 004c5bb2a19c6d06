#!/bin/bash
# Outcomes that must not move: each document's outcome (refused or not, an MD5 of its worker's
# log and output files) over the examples, generated documents of every column kind and the W3C
# XML conformance suite is the one in regression/expected.tsv; a moved one is shown against the
# text its digest covers in expected.txt.xz (RECORD=1 rewrites both after a deliberate change).
# Not-well-formed documents are refused, except where XML 1.0 lets a processor that reads no
# external entity accept them, and two that libxml2 accepts.
. "$(dirname "$0")/lib.sh"
R=$TESTS_DIR/regression

mkdir -p "$WORK"/{examples,generated,xmlconf}/{input,output} "$WORK/suite"
cp "$TESTS_DIR/../examples/strandor.conf" "$WORK/examples/"
cp "$TESTS_DIR"/../examples/input/* "$WORK/examples/input/"
cp "$R/gen.conf" "$WORK/generated/strandor.conf"
perl "$R/gen_docs.pl" "$WORK/generated/input" 20261206 400
unzip -q "$TESTS_DIR/data/xmlconf/xmlts20130923.zip" -d "$WORK/suite"
perl "$R/xmlconf_inputs.pl" "$WORK/suite/xmlconf" "$WORK/xmlconf/input" "$WORK/not-wf" >"$WORK/xmlconf/strandor.conf"

for corpus in examples generated xmlconf; do
    ( cd "$WORK/$corpus" && "$STRANDOR" -c strandor.conf -i input -o output -t 2 -d 4 2>log >/dev/null )
    perl "$R/digest.pl" "$WORK/$corpus" "$WORK/actual.txt" | sed "s/^/$corpus\t/"
done >"$WORK/actual.tsv"
if [ "${RECORD:-0}" = 1 ]; then cp "$WORK/actual.tsv" "$R/expected.tsv"; xz -9e <"$WORK/actual.txt" >"$R/expected.txt.xz"; fi
# section FILE DOC: the text that the digest of DOC ("CORPUS<tab>NAME") covers.
section() { awk -v head="### $2" '$0 == head { p = 1; next } /^### [a-z]+\t/ { p = 0 } p' "$1"; }
diff "$R/expected.tsv" "$WORK/actual.tsv" >"$WORK/diff" && ok || { fail "outcomes moved:"; head -20 "$WORK/diff" >&2
    xz -dc "$R/expected.txt.xz" >"$WORK/expected.txt"
    sed -n 's/^[<>] //p' "$WORK/diff" | cut -f1,2 | awk '!seen[$0]++' | head -3 | while read -r doc; do
        diff -au --label "expected ${doc/$'\t'//}" --label actual <(section "$WORK/expected.txt" "$doc") <(section "$WORK/actual.txt" "$doc") | head -20 >&2
    done; }
awk -F'\t' '$1 == "xmlconf" { print $2 "\t" $3 }' "$WORK/actual.tsv" | sort >"$WORK/refused"
accepted=$(awk -F'\t' 'NR == FNR { if ($2 == "") strict[$1] = 1; next } ($1 in strict) && $2 == 0 { print $1 }' \
    "$WORK/not-wf" "$WORK/refused" | tr '\n' ' ' | sed 's/ $//')
echo "xmlconf: $(wc -l <"$WORK/refused") documents, $(grep -c $'\t1$' "$WORK/refused") refused;" \
    "$(awk -F'\t' '$2 == ""' "$WORK/not-wf" | wc -l) must be refused, accepted: $accepted"
[ "$accepted" = "xc0445_20000101_0725.xml xc0446_20000101_0726.xml" ] && ok || fail "not-well-formed documents accepted: $accepted"
finish
