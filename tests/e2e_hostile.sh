#!/bin/bash
# Hostile and broken input: each case ends with its message and status, bounded in
# memory and time, and leaves nothing of a failed input in the output directory.
. "$(dirname "$0")/lib.sh"

conf() {
    printf '%s\n' 'GLOBALS { }' 'INPUTFILE "xml" { GENERATES MEASUREMENT { MEASUREMENTNAME "v" GRANULARITY EVENT MATCH { NEEDS "v" }' \
        '  COLUMNS { ATTRIBUTE ( "v" ) "v" ARGATTRIBUTE ( "v", "a" ) "a" '"${MORE:-}"' } } }' >"$CASE/strandor.conf"
}

# hostile NAME FILE STATUS MAX_KB [LOG_LINE...]: converts the prepared $WORK/FILE within
# MAX_KB of peak memory and MAX_S seconds (10 unless set, three times that under the
# sanitizers); a failed input must stay and leave nothing behind. LIMIT_KB limits the data.
hostile() {
    local name=$1 file=$2 status=$3 max_kb=$4 max_s=$((${MAX_S:-10} * (${SANITIZED:-0} == 1 ? 3 : 1))) kb s
    shift 4
    new_case "$name"
    conf
    cp "$WORK/$file" "$CASE/input/"
    run_in_case /usr/bin/time -f "%M %e" -o "$CASE/rss" timeout -k 5 "$max_s" ${LIMIT_KB:+prlimit --data=$((LIMIT_KB * 1024))} \
        "$STRANDOR" -c "$CASE/strandor.conf" -i "$CASE/input" -o "$CASE/output"
    read -r kb s < <(tail -1 "$CASE/rss")
    echo "$name: peak memory $kb KB, $s s"
    [ "$STATUS" -ne 124 ] && ok || fail "$name: not done within $max_s s"
    [ "${SANITIZED:-0}" = 1 ] || [ "$kb" -le "$max_kb" ] && ok || fail "$name: peak memory $kb KB > $max_kb KB"
    if [ "$status" -ne 0 ]; then expect_failed "$name" "$status" "$file" "$@"; else
        expect_status "$name" 0; expect_log "$name" "$@"; fi
}

# Entity bombs: every expansion counts where it happens, whatever it yields, and the document
# is refused at once. refused NAME LINE COLUMN TEXT INPUT: so is $WORK/NAME.xml, with these figures.
refused() {
    hostile "$1" "$1.xml" 1 30000 "ERROR: parsing unsuccessful" \
        "ERROR: error detected in line $2 column $3: entity expansion too large: $4 bytes of text from $5 bytes of input"
}
# bomb NAME LEAF V DTD FIGURES: ten levels of ten references down to LEAF; V follows <v, DTD ends the internal subset.
bomb() {
    perl -e 'my ($leaf, $v, $dtd) = @ARGV; print qq{<!DOCTYPE d [<!ENTITY l0 "$leaf">\n};
             print qq{<!ENTITY l$_ "}, ("&l" . ($_ - 1) . ";") x 10, qq{">\n} for 1 .. 9; print qq{$dtd]>\n<d><v$v</v></d>\n}' "$2" "$3" "$4" >"$WORK/$1.xml"
    refused "$1" $5
}
bomb nested-bomb aaaaaaaaaa '>&l9;' '' "12 11 1054254 565"
bomb attribute-bomb aaaaaaaaaa ' a="&l9;">' '' "12 14 1054280 570"
bomb default-bomb aaaaaaaaaa '>' '<!ATTLIST v a CDATA "&l9;">' "11 26 1054462 588"
bomb empty-bomb '' '>&l9;' '' "12 11 1054136 555"
bomb comment-bomb '<!---->' '>&l9;' '' "12 11 1054211 562"
bomb pi-bomb '<?p?>' '>&l9;' '' "12 11 1054179 560"
bomb markup-bomb '<x/>' '>&l9;' '' "12 11 1054184 559"
# Parameter entities declared by expanding others, in markup the internal subset reads.
perl -e 'print qq{<!DOCTYPE d [<!ENTITY % p0 "aaaaaaaaaa">\n};
         print qq{<!ENTITY % d$_ "<!ENTITY &#37; p$_ \x27}, ("&#37;p" . ($_ - 1) . ";") x 10, qq{\x27>">%d$_;\n} for 1 .. 9; print "]><d/>"' >"$WORK/pe-bomb.xml"
refused pe-bomb 1 57 1123804 1154
# repeated NAME SIZE COUNT V FIGURES: one entity of SIZE bytes referenced COUNT times in <v V, text or attribute.
repeated() {
    perl -e 'my ($size, $count, $v) = @ARGV; print qq{<!DOCTYPE d [<!ENTITY big "}, "x" x $size, qq{">]><d><v$v}, "&big;" x $count,
             $v eq ">" ? "</v></d>" : qq{">x</v></d>}' "$2" "$3" "$4" >"$WORK/$1.xml"
    refused "$1" $5
}
repeated repeated-bomb 1000000 100000 '>' "1 1000093 12000192 1004000"
repeated repeated-attribute 10000 50000 ' a="' "1 10621 1171872 12000"
repeated large-repeated-attribute 100000 10000 ' a="' "1 100141 2100336 104000"
# References within the bound convert: each of many values is an entity of 9 times the input it takes.
perl -e 'print qq{<!DOCTYPE d [<!ENTITY dn "}, "x" x 90, qq{">]><d>}, "<v>&dn;</v>\n" x 30000, "</d>"' >"$WORK/fair_20240101_0010.xml"
hostile fair-references fair_20240101_0010.xml 0 30000

# An external entity and an external DTD are not read: the local file does not reach the output.
echo "secret-$$" >"$WORK/secret.txt"
printf '<!DOCTYPE d SYSTEM "%s" [<!ENTITY x SYSTEM "file://%s">]>\n<d><v>&x;</v></d>\n' "$WORK/secret.txt" "$WORK/secret.txt" \
    >"$WORK/external_20240101_0003.xml"
hostile external-entity external_20240101_0003.xml 0 30000
expect_file "external entity" "$CASE/output/2401010003_E_v_.data" 'v\ta\n\t\n'

# One text node of 100 MB: converted, with memory bounded by two copies of the text.
perl -e 'print "<d><v>", "0123456789" x 10000000, "</v></d>"' >"$WORK/huge_20240101_0011.xml"
MAX_S=120 hostile huge-text huge_20240101_0011.xml 0 250000
[ "$(stat -c %s "$CASE/output/2401010011_E_v_.data")" -eq 100000006 ] && ok || fail "huge text converted"
rm -f "$WORK/huge_20240101_0011.xml"
# gz_text FILE MIB: <d><v> and MIB MiB of text, in gzip members that compress one MiB each.
perl -e 'print "0123456789abcdef" x 65536' | gzip -9n >"$WORK/mib.gz"
gz_text() { { printf '<d><v>' | gzip -n; perl -e 'local $/; print scalar(<STDIN>) x $ARGV[0]' "$2" <"$WORK/mib.gz"; printf '</v></d>' | gzip -n; } >"$WORK/$1"; }
# Over 1 GiB, a text node fails the file rather than being written cut or empty.
gz_text long_20240101_0012.xml 1025
MAX_S=120 hostile long-text long_20240101_0012.xml 1 1200000 \
    "ERROR: error detected in line 1 column 1073744001: text longer than 1 GiB" "ERROR: parsing unsuccessful"
# Memory that runs out fails the file like any error, so that it can be quarantined. The
# sanitizers reserve more address space than such a limit allows.
gz_text memory_20240101_0013.xml 200
[ "${SANITIZED:-0}" = 1 ] || LIMIT_KB=400000 MAX_S=60 hostile out-of-memory memory_20240101_0013.xml 1 300000 \
    "ERROR: error detected in line 1 column 209715211: out of memory" "ERROR: parsing unsuccessful"

# gzip input is found by its magic, whatever the name, and inflated while it streams, every
# member of a concatenation in turn. A fault fails the file with its name.
doc() { perl -e 'print "<d>", map({ qq{<v a="$_">$_</v>\n} } 1 .. 2000), "</d>\n"'; }
doc | gzip -n >"$WORK/gz.gz"
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

# Records held for AT_END columns are bounded: over 64 MiB in one group fail the file, their
# bytes (here 8 MB) and the marks of their AT_END values (66 MB) together.
perl -e 'print "<d>", ("<v>" . "x" x 8 . "</v>") x 345000, "<f>1</f></d>"' | gzip -n >"$WORK/held_20240101_0014.xml"
MORE=$(for i in $(seq 12); do printf 'ATTRIBUTE ( "d" -> "f" ) "f%d" AT_END ' "$i"; done) hostile held held_20240101_0014.xml 1 100000 \
    "ERROR: parsing unsuccessful" "ERROR: more than 64 MiB of records wait for the end of a group of MEASUREMENT v with AT_END columns"
# So are look-up tables: an entry's text may be long, and entries many.
perl -e 'print "<d>", map({ qq{<e k="$_">} . "x" x 65536 . "</e>" } 1 .. 2000), "<v>1</v></d>"' | gzip -1n >"$WORK/lookup_20240101_0015.xml"
MORE='MAPATTRIBUTE ( "d" -> "e", "k" ) ( "v", "k" ) "m"' hostile lookup lookup_20240101_0015.xml 1 100000 "ERROR: parsing unsuccessful" \
    "ERROR: more than 64 MiB of look-up entries in MEASUREMENT v of file lookup_20240101_0015.xml"
# What libxml2 would take quadratic time for: an element's many attributes, many distinct
# names, IDs declared for one element (not kept).
perl -e 'print "<d><v", map({ qq{ a$_="x"} } 1 .. 200000), "/></d>"' >"$WORK/attributes_20240101_0016.xml"
hostile attributes attributes_20240101_0016.xml 1 100000 "ERROR: parsing unsuccessful" \
    "ERROR: error detected in line 1 column 98911: an element has more than 10000 attributes"
perl -e 'print "<d>", map({ "<e$_/>" } 1 .. 1000000), "</d>"' | gzip -n >"$WORK/names_20240101_0017.xml"
hostile names names_20240101_0017.xml 1 100000 "ERROR: parsing unsuccessful" \
    "ERROR: error detected in line 1 column 891757: more than 100000 distinct names"
perl -e 'print "<!DOCTYPE d [<!ATTLIST v", map({ " i$_ ID #IMPLIED" } 1 .. 50000), ">]><d><v>1</v></d>"' >"$WORK/ids_20240101_0018.xml"
hostile ids ids_20240101_0018.xml 0 100000

# A gzip bomb: 1 MB that inflates to 1 GiB streams in flat memory.
perl -e 'print "<d>"' | gzip -n >"$WORK/bomb_20240101_0007.xml"
perl -e 'print qq{<x a="0123456789">0123456789012345678901234567890123456789</x>\n} x 16384' | gzip -9n >"$WORK/member.gz"
perl -e 'local $/; my $m = <STDIN>; print $m x 1024' <"$WORK/member.gz" >>"$WORK/bomb_20240101_0007.xml"
perl -e 'print "<v>end</v></d>"' | gzip -n >>"$WORK/bomb_20240101_0007.xml"
MAX_S=120 hostile gzip-bomb bomb_20240101_0007.xml 0 30000
expect_file "gzip bomb" "$CASE/output/2401010007_E_v_.data" 'v\ta\nend\t\n'
rm -f "$WORK/bomb_20240101_0007.xml"

finish
