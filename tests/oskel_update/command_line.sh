#!/bin/bash
# oskel-update on the build machine: its command line, and the Start road without a controller
# (when the machine has no hidraw node): one "Device error!" line and exit status 1.
# usage: command_line.sh OSKEL_UPDATE SOURCE_DIR
set -u
program="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$2/CMakeLists.txt")
[ "$("$program" --version)" = "oskel-update $version" ] || fail "--version does not print 'oskel-update $version'"

"$program" --help >"$work/out" 2>"$work/err" || fail "--help: exit status $?"
grep -q -- '--wait' "$work/out" || fail "--help does not name --wait"
grep -q 'does not run on Linux' "$work/out" || fail "--help does not say that the USB topology walk does not run"
[ ! -s "$work/err" ] || fail "--help writes to standard error"

for usage in "--no-such-option" "--once" "--wait stray-argument"; do
    # shellcheck disable=SC2086
    "$program" $usage >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 2 ] || fail "'$usage': exit status $status, expected 2"
    [ ! -s "$work/out" ] || fail "'$usage': standard output is not empty"
    grep -q '^oskel-update: ' "$work/err" || fail "'$usage': no notice on standard error"
done

if compgen -G '/dev/hidraw*' >/dev/null; then
    echo "PASS (the Start road is not run: this machine has hidraw nodes)"
    exit 0
fi
"$program" --verbose >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "Start without a controller: exit status $status, expected 1"
[ "$(cat "$work/out")" = "Device error!" ] || fail "Start without a controller: standard output '$(cat "$work/out")'"
grep -qx 'Device not detected' "$work/err" || fail "--verbose: no 'Device not detected' line"
grep -qx 'SetupDiDestroyDeviceInfoList' "$work/err" || fail "--verbose: no 'SetupDiDestroyDeviceInfoList' line"
echo PASS
