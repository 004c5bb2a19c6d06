#!/bin/bash
# Hostile and broken input, through both readers: strandor (libxml2 first) and
# strandor-qtreader (QXmlSimpleReader only) must answer each case alike, with its
# message and status, and leave nothing of a failed input in the output directory.
. "$(dirname "$0")/lib.sh"
QTREADER=${STRANDOR_QTREADER:?path of strandor-qtreader}
trap 'umount "$WORK/mnt-ro" "$WORK/mnt-full" 2>/dev/null; rm -rf "$WORK"' EXIT

conf() {
    cat >"$CASE/strandor.conf" <<'CONF'
GLOBALS { }
INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY EVENT MATCH { NEEDS "v" }
  COLUMNS { ATTRIBUTE ( "v" ) "v" ARGATTRIBUTE ( "v", "a" ) "a" } } }
CONF
}

# hostile NAME FILE STATUS [LOG_LINE...]: converts the prepared $WORK/FILE with both
# readers; a failed input must stay and leave nothing behind.
hostile() {
    local name=$1 file=$2 status=$3
    shift 3
    for bin in "$STRANDOR" "$QTREADER"; do
        new_case "$name-$(basename "$bin")"
        conf
        cp "$WORK/$file" "$CASE/input/"
        run_strandor -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output"
        STRANDOR_USED=$bin
        expect_status "$name ($(basename "$bin"))" "$status"
        for line in "$@"; do expect_log "$name ($(basename "$bin"))" "$line"; done
        if [ "$status" -ne 0 ]; then
            expect_listing "$name ($(basename "$bin")) leaves nothing" "$CASE/output" ""
            expect_listing "$name ($(basename "$bin")) keeps its input" "$CASE/input" "$file"
        fi
    done
}
# run_strandor with the binary of the loop above
run_strandor() {
    ( cd "$CASE" && "$bin" "$@" >"$CASE/stdout" 2>"$CASE/stderr" )
    STATUS=$?
    strip_log "$CASE/stderr" >"$CASE/log"
}
output() { cat "$CASE"/output/*.data; }

# Entity expansion bomb: refused by QXmlSimpleReader's expansion limit, in bounded time.
perl -e 'print qq{<?xml version="1.0"?>\n<!DOCTYPE d [\n<!ENTITY a "aaaaaaaaaa">\n};
         for $i (1..9) { my $p = $i == 1 ? "a" : "e" . ($i - 1); print qq{<!ENTITY e$i "}, "&$p;" x 10, qq{">\n}; }
         print qq{]>\n<d><v>&e9;</v></d>\n}' >"$WORK/laughs_20240101_0001.xml"
start=$(date +%s)
hostile laughs laughs_20240101_0001.xml 1 \
    'ERROR: error detected in line 7 column 55: The XML entity "e3" expands to a string that is too large to process (10000 characters > 4096).' \
    "ERROR: parsing unsuccessful"
[ $(($(date +%s) - start)) -lt 20 ] && ok || fail "entity bomb took too long"

# An expansion just within the limit passes.
printf '<!DOCTYPE d [<!ENTITY x "%s">]><d><v>&x;</v></d>' "$(head -c 4096 /dev/zero | tr '\0' y)" >"$WORK/limit_20240101_0002.xml"
hostile expansion-limit limit_20240101_0002.xml 0
[ "$(output | tail -1 | cut -f1 | wc -c)" -eq 4097 ] && ok || fail "4096 characters of expansion"

# An external entity is not read: the local file does not reach the output.
echo "secret-$$" >"$WORK/secret.txt"
printf '<?xml version="1.0"?>\n<!DOCTYPE d [<!ENTITY x SYSTEM "file://%s">]>\n<d><v>&x;</v></d>\n' "$WORK/secret.txt" \
    >"$WORK/external_20240101_0003.xml"
hostile external-entity external_20240101_0003.xml 0
output | grep -q "secret-$$" && fail "external entity read" || ok

# Deep nesting stops cleanly at the handler's limit instead of crashing the reader.
perl -e 'print "<d><v>x</v>", "<a>" x 100000' >"$WORK/deep_20240101_0004.xml"
hostile deep-nesting deep_20240101_0004.xml 1 "ERROR: element nesting deeper than 4096 levels" \
    "ERROR: error detected in line 1 column 12299: error triggered by consumer" "ERROR: parsing unsuccessful"

# Encodings: invalid UTF-8 becomes replacement characters, a NUL byte is kept as it
# stands (both as QXmlSimpleReader decides); a BOM and UTF-16 convert correctly.
printf '<d><v>ok\xff\xfe</v></d>' >"$WORK/badutf8_20240101_0005.xml"
hostile invalid-utf8 badutf8_20240101_0005.xml 0
expect_file "invalid UTF-8" "$CASE/output/2401010005_E_v_.data" 'v\ta\nok\xef\xbf\xbd\xef\xbf\xbd\t\n'
printf '<d><v>a\0b</v></d>' >"$WORK/nul_20240101_0006.xml"
hostile nul-byte nul_20240101_0006.xml 0
expect_file "NUL byte" "$CASE/output/2401010006_E_v_.data" 'v\ta\na\0b\t\n'
printf '\xef\xbb\xbf<d><v a="\xc3\xa9">caf\xc3\xa9 \xe2\x82\xac</v></d>' >"$WORK/bom_20240101_0007.xml"
hostile utf8-bom bom_20240101_0007.xml 0
expect_file "UTF-8 BOM" "$CASE/output/2401010007_E_v_.data" 'v\ta\ncaf\xc3\xa9 \xe2\x82\xac\t\xc3\xa9\n'
printf '<?xml version="1.0" encoding="UTF-16"?><d><v a="\xc3\xa9">caf\xc3\xa9 \xe2\x82\xac</v></d>' \
    | perl -MEncode -e 'local $/; print "\xFF\xFE", encode("UTF-16LE", decode("UTF-8", <STDIN>))' >"$WORK/utf16_20240101_0008.xml"
hostile utf16 utf16_20240101_0008.xml 0
expect_file "UTF-16" "$CASE/output/2401010008_E_v_.data" 'v\ta\ncaf\xc3\xa9 \xe2\x82\xac\t\xc3\xa9\n'

# Empty and truncated files.
: >"$WORK/empty_20240101_0009.xml"
hostile empty empty_20240101_0009.xml 1 "ERROR: error detected in line 1 column 1: unexpected end of file" \
    "ERROR: parsing unsuccessful"
printf '<d><v>one</v><v>tw' >"$WORK/truncated_20240101_0010.xml"
hostile truncated truncated_20240101_0010.xml 1 "ERROR: error detected in line 1 column 19: unexpected end of file"

# One text node of 100 MB: converted, with memory bounded by a few copies of the text.
perl -e 'print "<d><v>", "0123456789" x 10000000, "</v></d>"' >"$WORK/huge_20240101_0011.xml"
for bin in "$STRANDOR" "$QTREADER"; do
    new_case "huge-$(basename "$bin")"
    conf
    ln "$WORK/huge_20240101_0011.xml" "$CASE/input/"
    kb=$( { /usr/bin/time -f %M "$bin" -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output" 2>&1 >/dev/null; } | tail -1)
    [ "$(head -c 7 "$CASE/output/2401010011_E_v_.data")" = "$(printf 'v\ta\n012')" ] \
        && [ "$(stat -c %s "$CASE/output/2401010011_E_v_.data")" -eq 100000006 ] && ok || fail "huge text converted"
    [ "$kb" -lt 1200000 ] && ok || fail "huge text: peak memory $kb KB"
    echo "huge text node with $(basename "$bin"): peak memory $kb KB"
done
rm -f "$WORK/huge_20240101_0011.xml"

# A file removed between the listing and its worker.
new_case removed
conf
perl -e 'print "<d>", "<v>x</v>" x 3000000, "</d>"' >"$CASE/input/a_20240101_0001.xml"
printf '<d><v>b</v></d>' >"$CASE/input/b_20240101_0002.xml"
( cd "$CASE" && "$STRANDOR" -c strandor.conf -i input -o output -t 1 >stdout 2>stderr ) &
for _ in $(seq 1 500); do grep -q "processing file = a_" "$CASE/stderr" 2>/dev/null && break; sleep 0.01; done
rm "$CASE/input/b_20240101_0002.xml"
wait $!
STATUS=$?
strip_log "$CASE/stderr" >"$CASE/log"
expect_status "removed input" 1
expect_log "removed input" "ERROR: opening file input//b_20240101_0002.xml"
expect_log "removed input" "ERROR: parsing unsuccessful"
expect_log "removed input" "Info (1/2) Prozesse erfolgreich konvertiert"
expect_listing "removed input leaves only the other output" "$CASE/output" "2401010001_E_v_.data"

# An output directory that is read-only, or that fills up during the conversion.
mkdir -p "$WORK/mnt-ro" "$WORK/mnt-full"
if mount -t tmpfs -o size=256k,ro tmpfs "$WORK/mnt-ro" 2>/dev/null; then
    new_case read-only
    conf
    printf '<d><v>x</v></d>' >"$CASE/input/a_20240101_0001.xml"
    run_strandor -c "$CASE/strandor.conf" -i "$CASE/input" -o "$WORK/mnt-ro"
    expect_status "read-only output" 1
    expect_log "read-only output" "ERROR: could not open file $WORK/mnt-ro//2401010001_E_v_.data"
    expect_listing "read-only output keeps input" "$CASE/input" "a_20240101_0001.xml"
    umount "$WORK/mnt-ro"

    mount -t tmpfs -o size=256k tmpfs "$WORK/mnt-full"
    new_case full
    conf
    perl -e 'print "<d>", "<v>abcdefghijklmnopqrstuvwxyz</v>" x 20000, "</d>"' >"$CASE/input/a_20240101_0001.xml"
    for bin in "$STRANDOR" "$QTREADER"; do
        run_strandor -c "$CASE/strandor.conf" -i "$CASE/input" -o "$WORK/mnt-full"
        expect_status "full output ($(basename "$bin"))" 1
        expect_log "full output ($(basename "$bin"))" "ERROR: could not write file $WORK/mnt-full//2401010001_E_v_.data"
        expect_listing "full output ($(basename "$bin")) leaves nothing" "$WORK/mnt-full" ""
        expect_listing "full output ($(basename "$bin")) keeps input" "$CASE/input" "a_20240101_0001.xml"
    done
    umount "$WORK/mnt-full"
else
    echo "SKIP: read-only and full output directories need root to mount a tmpfs"
fi

finish
