#!/bin/bash
# Runs strandor (libxml2 reader, QXmlSimpleReader as fallback) and strandor-qtreader
# (QXmlSimpleReader only) on the same documents and demands byte-identical output files
# and worker logs: the real-world samples, the examples, benchmark files at several
# seeds, generated documents and the W3C XML conformance suite.
. "$(dirname "$0")/lib.sh"
QTREADER=${STRANDOR_QTREADER:?path of strandor-qtreader}
DIFF_DIR=$TESTS_DIR/differential
SHARED=${SHARED_DATA:-$TESTS_DIR/../../shared/data}

# compare NAME CONFIG INPUT_DIR [NOT_WF_LIST]
compare() {
    local name=$1 conf=$2 input=$3
    echo "== $name"
    for bin in "$STRANDOR" "$QTREADER"; do
        local dir=$WORK/run-$name/$(basename "$bin")
        mkdir -p "$dir/output"
        cp -r "$input" "$dir/input"
        ( cd "$dir" && "$bin" -c "$conf" -i input -o output -t 2 -d 4 2>log >/dev/null )
    done
    if perl "$DIFF_DIR/compare_runs.pl" "$WORK/run-$name/strandor" "$WORK/run-$name/strandor-qtreader" ${4:-}; then
        ok
    else
        fail "$name: the readers differ"
    fi
    rm -rf "$WORK/run-$name"
}

compare real-pm "$TESTS_DIR/cases/real_pm/strandor.conf" "$TESTS_DIR/cases/real_pm/input"
compare examples "$TESTS_DIR/../examples/strandor.conf" "$TESTS_DIR/../examples/input"
compare cell-example "$TESTS_DIR/cases/cell_example/strandor.conf" "$TESTS_DIR/cases/cell_example/input"

mkdir -p "$WORK/bench-input"
for seed in 1 2 3 4 5; do
    perl "$TESTS_DIR/../bench/gen_corpus.pl" 300000 $seed "$WORK/bench-input/node${seed}_2011111${seed}_1345.xml"
done
compare bench-corpus "$TESTS_DIR/../bench/bench.conf" "$WORK/bench-input"

mkdir -p "$WORK/generated"
perl "$DIFF_DIR/gen_docs.pl" "$WORK/generated" 20261206 400
compare generated "$DIFF_DIR/gen.conf" "$WORK/generated"

# The conformance suite, unpacked here; each test document gets a stamped name.
if [ -f "$SHARED/xmlconf/xmlts20130923.zip" ]; then
    mkdir -p "$WORK/xmlconf" "$WORK/xmlconf-input"
    unzip -q "$SHARED/xmlconf/xmlts20130923.zip" -d "$WORK/xmlconf"
    perl "$DIFF_DIR/xmlconf_inputs.pl" "$WORK/xmlconf/xmlconf" "$WORK/xmlconf-input" "$WORK/xmlconf-not-wf" \
        >"$WORK/xmlconf.conf"
    compare xmlconf "$WORK/xmlconf.conf" "$WORK/xmlconf-input" "$WORK/xmlconf-not-wf"
    # Most of the suite has CRLF line ends, which send a file to QXmlSimpleReader at once;
    # with LF line ends the libxml2 reader sees them too.
    find "$WORK/xmlconf-input" -type f -exec perl -pi -e 's/\r\n/\n/g' {} +
    compare xmlconf-lf "$WORK/xmlconf.conf" "$WORK/xmlconf-input" "$WORK/xmlconf-not-wf"
else
    fail "the W3C conformance suite is missing: $SHARED/xmlconf/xmlts20130923.zip"
fi
finish
