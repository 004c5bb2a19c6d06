# Lays out the corpora of the differential test under $1, one folder each with input/ and
# strandor.conf: the examples, benchmark files at several seeds,
# generated documents and the W3C suite (as it stands, and with LF line ends). The W3C
# suite's not-well-formed documents are listed in $1/xmlconf.not-wf.
prepare_corpora() {
    local root=$1 tests=$TESTS_DIR corpus
    corpus() { mkdir -p "$root/$1/input"; cp "$2" "$root/$1/strandor.conf"; }
    corpus examples "$tests/../examples/strandor.conf"
    cp "$tests"/../examples/input/* "$root/examples/input/"
    corpus cell-example "$tests/cases/cell_example/strandor.conf"
    cp "$tests"/cases/cell_example/input/* "$root/cell-example/input/"
    corpus bench "$tests/../bench/bench.conf"
    for seed in 1 2 3 4 5; do
        perl "$tests/../bench/gen_corpus.pl" 300000 $seed "$root/bench/input/node${seed}_2011111${seed}_1345.xml"
    done
    corpus generated "$tests/differential/gen.conf"
    perl "$tests/differential/gen_docs.pl" "$root/generated/input" 20261206 400
    mkdir -p "$root/xmlconf/input" "$root/xmlconf-suite"
    unzip -q "$tests/data/xmlconf/xmlts20130923.zip" -d "$root/xmlconf-suite"
    perl "$tests/differential/xmlconf_inputs.pl" "$root/xmlconf-suite/xmlconf" "$root/xmlconf/input" \
        "$root/xmlconf.not-wf" >"$root/xmlconf/strandor.conf"
    rm -rf "$root/xmlconf-suite"
    corpus xmlconf-lf "$root/xmlconf/strandor.conf"
    cp "$root"/xmlconf/input/* "$root/xmlconf-lf/input/"
    find "$root/xmlconf-lf/input" -type f -exec perl -pi -e 's/\r\n/\n/g' {} +
}

# run_corpus BINARY DIR: converts DIR/input into DIR/output, keeping the inputs, with the
# worker log in DIR/log.
run_corpus() {
    rm -rf "$2/output"
    mkdir -p "$2/output"
    ( cd "$2" && "$1" -c strandor.conf -i input -o output -t 2 -d 4 2>log >/dev/null ) || true
}
