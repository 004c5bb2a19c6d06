#!/bin/bash
# Records what tests/differential.sh expects, once, from the 0.8.1 converter (whose
# libxml2 reader handed every document it could not read exactly like QXmlSimpleReader
# to QXmlSimpleReader):
#   tools/record_differential.sh STRANDOR_0.8.1 > tests/differential/expected.tsv
# Per document: "same" with its digest where 0.8.1 read it with libxml2 alone (no point of
# the XML 1.0 reading changes it); "sound" with the digest of 0.8.1 on the same document
# as libxml2 reads it (xmllint: entities expanded, UTF-8, no DTD, normalised); "refused"
# where xmllint refuses it or finds a namespace error; "unchecked" where 0.8.1 cannot
# read even that form with libxml2 alone.
set -eu
LANDED=$1
TESTS_DIR=$(cd "$(dirname "$0")/../tests" && pwd)
. "$TESTS_DIR/differential/corpora.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export LC_ALL=C.UTF-8 TZ=Europe/Berlin
prepare_corpora "$WORK" >&2
for dir in "$WORK"/*/; do
    corpus=$(basename "$dir")
    run_corpus "$LANDED" "$dir"
    perl "$TESTS_DIR/differential/digest.pl" "$dir" >"$WORK/$corpus.first"
    mkdir -p "$WORK/$corpus.plain/input" "$WORK/one"
    cp "$dir/strandor.conf" "$WORK/$corpus.plain/"
    : >"$WORK/$corpus.refused"
    while IFS=$'\t' read -r name refused digest reason; do
        [ -n "$reason" ] || continue
        rm -rf "$WORK/one"/*
        cp "$dir/input/$name" "$WORK/one/"
        # The normaliser's tree merges adjacent CDATA sections, which are runs of their own.
        if perl -0777 -MEncode -ne 's/^\xFF\xFE// and $_ = decode("UTF-16LE", $_);
                s/^\xFE\xFF// and $_ = decode("UTF-16BE", $_); exit(!/\]\]><!\[CDATA\[/)' "$dir/input/$name"; then
            continue
        fi
        # Alone in a folder, so that no external entity or DTD can be found.
        if ( cd "$WORK/one" && xmllint --noent --dropdtd --dtdattr --nonet --encode UTF-8 "$name" \
                 >"$WORK/$corpus.plain/input/$name" 2>"$WORK/one.err" ) \
           && ! grep -q "namespace error" "$WORK/one.err"; then :; else
            rm -f "$WORK/$corpus.plain/input/$name"
            echo "$name" >>"$WORK/$corpus.refused"
        fi
    done <"$WORK/$corpus.first"
    run_corpus "$LANDED" "$WORK/$corpus.plain"
    perl "$TESTS_DIR/differential/digest.pl" "$WORK/$corpus.plain" >"$WORK/$corpus.second"
    perl -e '
        my ($corpus, $first, $second, $refused) = @ARGV;
        my (%plain, %refused);
        open(my $f, "<", $second) or die; while (<$f>) { chomp; my @f = split /\t/, $_, -1; $plain{$f[0]} = \@f; }
        open($f, "<", $refused) or die; while (<$f>) { chomp; $refused{$_} = 1; }
        open($f, "<", $first) or die;
        while (<$f>) {
            chomp;
            my ($name, $was_refused, $digest, $reason) = split /\t/, $_, -1;
            my $p = $plain{$name};
            my $kind = $reason eq "" ? "same" : $refused{$name} ? "refused"
                     : ($p && $p->[3] eq "" && !$p->[1]) ? "sound" : "unchecked";
            $digest = $p->[2] if $kind eq "sound";
            print join("\t", $corpus, $name, $kind, $kind =~ /same|sound/ ? $digest : "-"), "\n";
        }' "$corpus" "$WORK/$corpus.first" "$WORK/$corpus.second" "$WORK/$corpus.refused"
done
