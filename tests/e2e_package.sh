#!/bin/bash
# The Debian package, built from this build with cpack, and the systemd units it installs.
. "$(dirname "$0")/lib.sh"
BUILD_DIR=${BUILD_DIR:?the build directory}
UNITS=$TESTS_DIR/../deploy/systemd
version=$("$STRANDOR" -v | sed -n 's/^ *Version //p')

( cd "$BUILD_DIR" && cpack -G DEB -B "$WORK/pkg" ) >"$WORK/cpack.log" 2>&1 || { cat "$WORK/cpack.log" >&2; fail "cpack"; }
deb=$WORK/pkg/strandor_${version}_$(dpkg --print-architecture).deb
field() { dpkg-deb -I "$deb" control | sed -n "s/^$1: //p"; }
[ -f "$deb" ] && [ "$(field Package) $(field Version) $(field Architecture)" = "strandor $version $(dpkg --print-architecture)" ] \
    && ok || fail "$deb: missing, or not its name, version and architecture"
field Depends | grep -qE '(^|, )libqt5core5a( |,|$)' && ok || fail "depends on the Qt core library: $(field Depends)"
[ "$(dpkg-deb -I "$deb" conffiles | sort)" = "$(printf '%s\n' /etc/default/strandor /etc/strandor/strandor.conf)" ] \
    && ok || fail "conffiles: $(dpkg-deb -I "$deb" conffiles)"
field Maintainer | grep -vq '@localhost>' && ok || fail "maintainer $(field Maintainer)"

# The maintainer scripts are there and sh reads them.
mkdir "$WORK/control"
dpkg-deb --ctrl-tarfile "$deb" | tar -x -C "$WORK/control"
for script in postinst prerm postrm; do
    [ -x "$WORK/control/$script" ] && sh -n "$WORK/control/$script" && ok || fail "maintainer script $script"
done

# Exactly these files, nothing under any input or output directory.
dpkg-deb -x "$deb" "$WORK/root"
expected="$(printf '%s\n' /etc/default/strandor /etc/strandor/strandor.conf /lib/systemd/system/strandor.{service,timer} /usr/bin/strandor \
    /usr/share/doc/strandor/{copyright,changelog.Debian.gz})
$(cd "$TESTS_DIR/../examples" && find . -type f ! -name run.sh | sed 's|^\.|/usr/share/doc/strandor/examples|')
/usr/share/man/man1/strandor.1.gz"
actual=$(cd "$WORK/root" && find . -type f | sed 's|^\.||' | sort)
[ "$actual" = "$(echo "$expected" | sort)" ] && ok || { fail "package files"; diff <(echo "$expected" | sort) <(echo "$actual") >&2; }
# Those directories, and the quarantine of the options, are what postinst makes: without
# the quarantine every run would be refused.
dirs=$(sed -n 's/^STRANDOR_\(INPUT\|OUTPUT\)=//p; s/^STRANDOR_OPTIONS=.* -e \([^ "]*\).*/\1/p' "$WORK/root/etc/default/strandor" | xargs)
[ "$dirs" = "$(grep -oE '/var/spool/[^ ;"]+' "$WORK/control/postinst" | xargs)" ] && ok || fail "postinst does not make exactly $dirs"

doc=$WORK/root/usr/share/doc/strandor
head -1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    && grep -qx 'Files: \*' "$doc/copyright" && grep -qx 'License: Apache-2.0' "$doc/copyright" \
    && ok || fail "copyright is not in the machine-readable format, under the Apache License 2.0"
changelog() { gzip -dc "$doc/changelog.Debian.gz" | dpkg-parsechangelog -l- -S "$1"; }
[ "$(changelog Version) $(changelog Maintainer)" = "$version $(field Maintainer)" ] \
    && ok || fail "changelog: $(changelog Version) by $(changelog Maintainer)"

# The packaged binary converts the packaged 3GPP example exactly as expected.
new_case packaged
cp "$WORK/root/usr/share/doc/strandor/examples/3gpp/input/"* "$CASE/input"
run_strandor -c "$WORK/root/usr/share/doc/strandor/examples/3gpp/strandor.conf" -i "$CASE/input" -o "$CASE/output"
expect_status "packaged binary on the example" 0
diff -r "$TESTS_DIR/cases/example_3gpp/expected" "$CASE/output" >&2 && ok || fail "packaged binary's output"

# The configuration the service reads converts every real file with a 3GPP name but the
# malformed one, leaves files by other names alone, and publishes no output without records.
new_case packaged_conf
real=$TESTS_DIR/cases/real_pm
cp "$real/input/"* "$CASE/input"
run_strandor -c "$WORK/root$(sed -n 's/^STRANDOR_CONFIG=//p' "$WORK/root/etc/default/strandor")" -i "$CASE/input" -o "$CASE/output" -t 2
expect_status "packaged configuration on the real files" 1
left=$( (cat "$real/remaining"; ls "$real/input" | grep -v '^[A-D][0-9]') | sort)
[ "$(ls "$CASE/input")" = "$left" ] && ok || { fail "inputs left by the packaged configuration"; diff <(echo "$left") <(ls "$CASE/input") >&2; }
[ -n "$(ls "$CASE/output")" ] && ok || fail "the packaged configuration wrote nothing"
for output in "$CASE/output"/*; do
    [ "$(wc -l <"$output")" -ge 2 ] && ok || fail "$(basename "$output") has no record"
done

# A tree of real deliveries, a folder per node, converts with one command: every input,
# the list form among them, and only outputs that hold records.
new_case packaged_tree
for f in A20181002.0000-1000-0015-1000_5G.xml A20220418.1900-1915_seliitdus00487.xml C20190328.0000-0015.xml; do
    mkdir -p "$CASE/input/pm/${f%%.*}" && cp "$real/input/$f" "$CASE/input/pm/${f%%.*}/"
done
mkdir -p "$CASE/input/pm/ranpm" && cp "$real/input/ranpm_20230811_0000.xml.gz" "$CASE/input/pm/ranpm/A20230811.0000_0000-0015_0000_ranpm.xml.gz"
run_strandor -c "$WORK/root/etc/strandor/strandor.conf" -i "$CASE/input" -o "$CASE/output" -r
expect_run "packaged configuration on a tree" 0 "Info (4/4) Prozesse erfolgreich konvertiert"
ls "$CASE/output" | grep -q '_counters\.tsv$' && ls "$CASE/output" | grep -q '_counter_lists\.tsv$' && ok || fail "tree: $(ls "$CASE/output")"
for output in "$CASE/output"/*; do
    [ "$(wc -l <"$output")" -ge 2 ] && ok || fail "tree: $(basename "$output") has no record"
done

# The units, pointed at this build, as systemd reads them.
mkdir "$WORK/units"
sed "s|/usr/bin/strandor|$STRANDOR|" "$UNITS/strandor.service" >"$WORK/units/strandor.service"
cp "$UNITS/strandor.timer" "$WORK/units"
systemd-analyze verify --man=no "$WORK"/units/* >&2 && ok || fail "systemd-analyze verify"
next=$(systemd-analyze calendar --iterations=4 "$(sed -n 's/^OnCalendar=//p' "$UNITS/strandor.timer")" | grep -E 'elapse|Iter' | grep -oE '[0-9]{2}:[0-9]{2}:[0-9]{2} ')
[ "$(echo "$next" | cut -c4-9 | sort | tr -d '\n')" = "00:30 15:30 30:30 45:30 " ] && ok || fail "timer elapses: $next"
# Every variable the service uses is set in the defaults.
for variable in $(grep -o '\${*[A-Z_]*' "$UNITS/strandor.service" | tr -d '${'); do
    grep -q "^$variable=" "$UNITS/strandor.default" && ok || fail "defaults lack $variable"
done
finish
