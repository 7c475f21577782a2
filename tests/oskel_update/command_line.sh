#!/bin/bash
# oskel-update on the build machine: its command line (getopt_long: bundled short options,
# --name=value and --name value), which stream carries what, the exit statuses that need no
# controller, where --capture may write, and the signals while it waits for a controller.
# usage: command_line.sh OSKEL_UPDATE SOURCE_DIR
set -u
program="$1"
work=$(mktemp -d)
waiting=
trap '[ -n "$waiting" ] && kill -KILL "$waiting" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$2/CMakeLists.txt")
for option in --version -V -vV; do
    [ "$("$program" $option)" = "oskel-update $version" ] || fail "$option does not print 'oskel-update $version'"
done

"$program" -h >"$work/out" 2>"$work/err" || fail "-h: exit status $?"
for named in --wait --list --device --capture= 'does not run on Linux' '3 no controller in an update mode'; do
    grep -q -- "$named" "$work/out" || fail "--help does not name '$named'"
done
[ ! -s "$work/err" ] || fail "--help writes to standard error"

# Bad usage: exit 2, nothing on standard output, the reason on standard error.
for usage in "--no-such-option" "-x" "--once" "--wait stray-argument" "--device=2563" "--device" "--list --wait" \
             "--capture=" "--capture"; do
    # shellcheck disable=SC2086
    "$program" $usage >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 2 ] || fail "'$usage': exit status $status, expected 2"
    [ ! -s "$work/out" ] || fail "'$usage': standard output is not empty"
    grep -q '^oskel-update: ' "$work/err" || fail "'$usage': no notice on standard error"
done

# --capture never follows a symbolic link: refused before anything is looked for.
ln -s "$work/target" "$work/link"
"$program" --capture "$work/link" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 2 ] || fail "--capture to a symbolic link: exit status $status, expected 2"
[ ! -e "$work/target" ] || fail "--capture wrote through a symbolic link"
grep -q 'symbolic link' "$work/err" || fail "--capture to a symbolic link: no reason on standard error"

if compgen -G '/dev/hidraw*' >/dev/null; then
    echo "PASS (the roads are not run: this machine has hidraw nodes)"
    exit 0
fi

"$program" --list --device=2563:1818 >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "--list without controllers: exit status $status, expected 0"
[ ! -s "$work/out" ] || fail "--list without controllers: standard output '$(cat "$work/out")'"

# Start without a controller: the box, exit 3, and no capture file, as no controller was found.
"$program" --verbose --capture="$work/start.pcapng" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 3 ] || fail "Start without a controller: exit status $status, expected 3"
[ "$(cat "$work/out")" = "Device error!" ] || fail "Start without a controller: standard output '$(cat "$work/out")'"
grep -qx 'Device not detected' "$work/err" || fail "--verbose: no 'Device not detected' line"
grep -qx 'SetupDiDestroyDeviceInfoList' "$work/err" || fail "--verbose: no 'SetupDiDestroyDeviceInfoList' line"
[ ! -e "$work/start.pcapng" ] || fail "--capture made its file although no controller was found"

# --wait, started with the given signals ignored and every other one at its default (a script's
# background job would ignore SIGINT and SIGQUIT); the process id in $waiting once it says that
# it waits.
start_waiting() {
    local ignored=$1 tries=0
    # Emptied first: the background job's own redirection may come after the first look below,
    # which would otherwise find the last run's line and signal perl before its exec.
    : >"$work/err"
    perl -e 'my $ignored = shift; $SIG{$_} = "DEFAULT" for qw(INT QUIT HUP TERM TSTP);
             $SIG{$_} = "IGNORE" for grep { length } split /,/, $ignored; exec @ARGV or die "exec: $!"' \
        "$ignored" "$program" -w >"$work/out" 2>"$work/err" &
    waiting=$!
    until grep -q 'waiting for a controller' "$work/err"; do
        [ $tries -lt 100 ] || fail "--wait does not say that it waits: $(cat "$work/err")"
        kill -0 "$waiting" 2>/dev/null || fail "--wait ended: $(cat "$work/err")"
        sleep 0.05
        tries=$((tries + 1))
    done
}
state_of() { sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null; }
settle() { sleep 0.3; }
ended_with() {
    local status
    wait "$waiting"
    status=$?
    waiting=
    [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1"
}

# Ctrl-Z stops it while nothing is written, SIGCONT lets it go on, Ctrl-C ends it with 130.
start_waiting ""
kill -TSTP "$waiting"; settle
[ "$(state_of "$waiting")" = T ] || fail "--wait: SIGTSTP did not stop it (state $(state_of "$waiting"))"
kill -CONT "$waiting"; settle
[ "$(state_of "$waiting")" = S ] || fail "--wait: SIGCONT did not let it go on (state $(state_of "$waiting"))"
kill -INT "$waiting"
ended_with 130 "--wait ended by SIGINT"
[ "$(grep -c 'waiting for a controller' "$work/err")" -eq 1 ] || fail "--wait says more than once that it waits"
[ ! -s "$work/out" ] || fail "--wait without a controller: standard output '$(cat "$work/out")'"

# A signal the caller ignored stays ignored (nohup); Ctrl-\ ends it with 128 + SIGQUIT.
start_waiting HUP
kill -HUP "$waiting"; settle
kill -0 "$waiting" 2>/dev/null || fail "--wait ended by a SIGHUP that its caller ignored"
kill -QUIT "$waiting"
ended_with 131 "--wait ended by SIGQUIT"
echo PASS
