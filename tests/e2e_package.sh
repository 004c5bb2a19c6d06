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
dpkg-deb -I "$deb" conffiles | grep -qx /etc/default/strandor && ok || fail "the defaults are a conffile"

# Exactly these files, nothing under any input or output directory.
dpkg-deb -x "$deb" "$WORK/root"
expected="$(printf '%s\n' /etc/default/strandor /lib/systemd/system/strandor.{service,timer} /usr/bin/strandor)
$(cd "$TESTS_DIR/../examples" && find . -type f ! -name run.sh | sed 's|^\.|/usr/share/doc/strandor/examples|')
/usr/share/man/man1/strandor.1.gz"
actual=$(cd "$WORK/root" && find . -type f | sed 's|^\.||' | sort)
[ "$actual" = "$(echo "$expected" | sort)" ] && ok || { fail "package files"; diff <(echo "$expected" | sort) <(echo "$actual") >&2; }

# The packaged binary converts the packaged 3GPP example exactly as expected.
new_case packaged
cp "$WORK/root/usr/share/doc/strandor/examples/3gpp/input/"* "$CASE/input"
run_strandor -c "$WORK/root/usr/share/doc/strandor/examples/3gpp/strandor.conf" -i "$CASE/input" -o "$CASE/output"
expect_status "packaged binary on the example" 0
diff -r "$TESTS_DIR/cases/example_3gpp/expected" "$CASE/output" >&2 && ok || fail "packaged binary's output"

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
