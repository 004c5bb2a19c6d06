#!/bin/bash
# Hostile and broken input: each case ends with its message and status, bounded in
# memory, and leaves nothing of a failed input in the output directory.
. "$(dirname "$0")/lib.sh"

conf() {
    printf '%s\n' 'GLOBALS { }' 'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY EVENT MATCH { NEEDS "v" }' \
        '  COLUMNS { ATTRIBUTE ( "v" ) "v" ARGATTRIBUTE ( "v", "a" ) "a" } } }' >"$CASE/strandor.conf"
}

# hostile NAME FILE STATUS MAX_KB [LOG_LINE...]: converts the prepared $WORK/FILE within
# MAX_KB of peak memory; a failed input must stay and leave nothing behind.
hostile() {
    local name=$1 file=$2 status=$3 max_kb=$4 kb
    shift 4
    new_case "$name"
    conf
    cp "$WORK/$file" "$CASE/input/"
    run_in_case /usr/bin/time -f "%M KB" -o "$CASE/rss" "$STRANDOR" -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output"
    kb=$(tail -1 "$CASE/rss" | cut -d' ' -f1)
    echo "$name: peak memory $kb KB"
    [ "${SANITIZED:-0}" = 1 ] || [ "$kb" -le "$max_kb" ] && ok || fail "$name: peak memory $kb KB > $max_kb KB"
    if [ "$status" -ne 0 ]; then expect_failed "$name" "$status" "$file" "$@"; else
        expect_status "$name" 0; expect_log "$name" "$@"; fi
}

# Entity bombs, nested and one large entity referenced many times: refused at once.
perl -e 'print qq{<!DOCTYPE d [<!ENTITY a "aaaaaaaaaa">\n};
         for $i (1..9) { my $p = $i == 1 ? "a" : "e" . ($i - 1); print qq{<!ENTITY e$i "}, "&$p;" x 10, qq{">\n}; }
         print qq{]>\n<d><v>&e9;</v></d>\n}' >"$WORK/laughs_20240101_0001.xml"
hostile nested-bomb laughs_20240101_0001.xml 1 30000 \
    "ERROR: error detected in line 12 column 11: entity expansion too large: 1054122 bytes of text from 554 bytes of input" \
    "ERROR: parsing unsuccessful"
perl -e 'print qq{<!DOCTYPE d [<!ENTITY big "}, "x" x 1000000, qq{">]><d><v>}, "&big;" x 100000, "</v></d>"' \
    >"$WORK/big_20240101_0002.xml"
hostile repeated-bomb big_20240101_0002.xml 1 40000 \
    "ERROR: error detected in line 1 column 1000098: entity expansion too large: 12000002 bytes of text from 1004000 bytes of input"

# An external entity and an external DTD are not read: the local file does not reach the output.
echo "secret-$$" >"$WORK/secret.txt"
printf '<!DOCTYPE d SYSTEM "%s" [<!ENTITY x SYSTEM "file://%s">]>\n<d><v>&x;</v></d>\n' "$WORK/secret.txt" "$WORK/secret.txt" \
    >"$WORK/external_20240101_0003.xml"
hostile external-entity external_20240101_0003.xml 0 30000
expect_file "external entity" "$CASE/output/2401010003_E_v_.data" 'v\ta\n\t\n'

# One text node of 100 MB: converted, with memory bounded by two copies of the text.
perl -e 'print "<d><v>", "0123456789" x 10000000, "</v></d>"' >"$WORK/huge_20240101_0011.xml"
hostile huge-text huge_20240101_0011.xml 0 250000
[ "$(stat -c %s "$CASE/output/2401010011_E_v_.data")" -eq 100000006 ] && ok || fail "huge text converted"
rm -f "$WORK/huge_20240101_0011.xml"

# gzip input is found by its magic, whatever the name, and inflated while it streams, every
# member of a concatenation in turn. A fault fails the file with its name.
doc() { perl -e 'print "<d>", map({ qq{<v a="$_">$_</v>\n} } 1 .. 2000), "</d>\n"'; }
doc | gzip -n >"$WORK/gz.gz"
cp "$WORK/gz.gz" "$WORK/gz_20240101_0004.xml.gz"
hostile gzip gz_20240101_0004.xml.gz 0 30000
[ "$(sed -n '2p;$p' "$CASE/output/2401010004_E_v_.data" | tr '\t\n' ',;')" = "1,1;2000,2000;" ] && ok || fail "gzip output"
printf '<d><v a="1">x</v>' | gzip -n >"$WORK/members_20240101_0005.xml"
printf '<v>y</v></d>\n' | gzip -n >>"$WORK/members_20240101_0005.xml"
hostile gzip-members members_20240101_0005.xml 0 30000
expect_file "gzip members" "$CASE/output/2401010005_E_v_.data" 'v\ta\nx\t1\ny\t1\n'
size=$(stat -c %s "$WORK/gz.gz")
# gz_fault NAME PERL_EDIT FAULT [SOURCE]: the gzip file edited by PERL_EDIT ($_ holds its bytes).
gz_fault() {
    perl -0777 -pe "$2" "$WORK/${4:-gz.gz}" >"$WORK/$1_20240101_0006.xml.gz"
    hostile "$1" "$1_20240101_0006.xml.gz" 1 30000 \
        "ERROR: could not read $WORK/$1/input//$1_20240101_0006.xml.gz: $3" "ERROR: parsing unsuccessful"
    expect_no_log "$1" "error detected"
}
gz_fault gz-crc "substr(\$_, $size - 8, 1) ^= 'x'" "compressed data corrupt (incorrect data check)"
gz_fault gz-method 'substr($_, 2, 1) = "\x07"' "compressed data corrupt (unknown compression method)"
gz_fault gz-truncated "\$_ = substr(\$_, 0, $size / 2)" "compressed data truncated"
gz_fault gz-trailing '$_ .= "junk"' "unexpected data after the compressed data"
# Stored blocks hold the text as it is: a broken tag fails the parse before the CRC is
# reached, and the stream's fault is the one named.
doc | perl -MIO::Compress::Gzip=gzip,:level -e 'local $/; my $d = <STDIN>; gzip(\$d => \*STDOUT, Level => Z_NO_COMPRESSION, Minimal => 1)' >"$WORK/stored.gz"
gz_fault gz-stored 's/<v a="1000">/<v a="1000"</' "compressed data corrupt (incorrect data check)" stored.gz

# A gzip bomb: 1 MB that inflates to 1 GiB streams in flat memory.
perl -e 'print "<d>"' | gzip -n >"$WORK/bomb_20240101_0007.xml"
perl -e 'print qq{<x a="0123456789">0123456789012345678901234567890123456789</x>\n} x 16384' | gzip -9n >"$WORK/member.gz"
perl -e 'local $/; my $m = <STDIN>; print $m x 1024' <"$WORK/member.gz" >>"$WORK/bomb_20240101_0007.xml"
perl -e 'print "<v>end</v></d>"' | gzip -n >>"$WORK/bomb_20240101_0007.xml"
hostile gzip-bomb bomb_20240101_0007.xml 0 30000
expect_file "gzip bomb" "$CASE/output/2401010007_E_v_.data" 'v\ta\nend\t\n'
rm -f "$WORK/bomb_20240101_0007.xml"

# A file removed between the listing and its worker.
new_case removed
conf
perl -e 'print "<d>", "<v>x</v>" x 3000000, "</d>"' >"$CASE/input/a_20240101_0001.xml"
printf '<d><v>b</v></d>' >"$CASE/input/b_20240101_0002.xml"
( cd "$CASE" && "$STRANDOR" -c strandor.conf -i input -o output -t 1 >stdout 2>stderr ) &
wait_until started "$CASE/stderr" 1
rm "$CASE/input/b_20240101_0002.xml"
wait $!
STATUS=$?
strip_log "$CASE/stderr" >"$CASE/log"
expect_run "removed input" 1 "ERROR: opening file input//b_20240101_0002.xml" "ERROR: parsing unsuccessful" \
    "Info (1/2) Prozesse erfolgreich konvertiert"
expect_listing "removed input leaves only the other output" "$CASE/output" "2401010001_E_v_.data"

finish
