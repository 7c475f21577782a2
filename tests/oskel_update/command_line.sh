#!/bin/bash
# oskel-update on the build machine: its command line (getopt_long: bundled short options,
# --name=value and --name value), which stream carries what, the exit statuses that need no
# controller, where --capture may write, the images -V names, and, with and without a udev daemon
# (in a mount namespace of its own), the signals while it waits for a controller.
# usage: command_line.sh OSKEL_UPDATE SOURCE_DIR IMAGE1 IMAGE2 IMAGE3 (the images the build embedded)
set -u
program="$1"
images=("$3" "$4" "$5")
work=$(mktemp -d)
waiting=
trap '[ -n "$waiting" ] && kill -KILL "$waiting" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Every line on standard error carries the program's name.
all_named() { ! grep -v '^oskel-update: ' "$1" >/dev/null; }

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$2/CMakeLists.txt")
for option in --version -V -vV; do
    "$program" $option >"$work/out" || fail "$option: exit status $?"
    [ "$(head -n 1 "$work/out")" = "oskel-update $version" ] || fail "$option does not print 'oskel-update $version'"
done
# -V: each embedded image's size and SHA-256, as sha256sum finds them in the file embedded.
for mode in 1 2 3; do
    image=${images[mode - 1]}
    line="$(sha256sum "$image" | cut -d' ' -f1) $(stat -c %s "$image")"
    [ "$(sed -n "s/^mode $mode image ([0-9a-f:]*): \([0-9]*\) bytes, SHA-256 \([0-9a-f]\{64\}\)$/\2 \1/p" "$work/out")" = "$line" ] ||
        fail "-V does not name mode $mode's image as $line: $(cat "$work/out")"
done
[ "$(wc -l <"$work/out")" -eq 4 ] || fail "-V prints more than the version and the three images: $(cat "$work/out")"

"$program" -h >"$work/out" 2>"$work/err" || fail "-h: exit status $?"
for named in --wait --list --device --capture= 'does not run on Linux' '3 no controller in an update mode'; do
    grep -q -- "$named" "$work/out" || fail "--help does not name '$named'"
done
[ ! -s "$work/err" ] || fail "--help writes to standard error"

# Bad usage: exit 2, nothing on standard output, the reason on standard error.
for usage in "--no-such-option" "-x" "--once" "--wait stray-argument" "--device=2563" "--device" "--list --wait" \
             "--capture=" "--capture" "--device=/dev/null" "--list --device=$work" "--json"; do
    # shellcheck disable=SC2086
    "$program" $usage >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 2 ] || fail "'$usage': exit status $status, expected 2"
    [ ! -s "$work/out" ] || fail "'$usage': standard output is not empty"
    grep -q '^oskel-update: ' "$work/err" || fail "'$usage': no notice on standard error"
    all_named "$work/err" || fail "'$usage': a line on standard error without the program's name: $(cat "$work/err")"
done
"$program" --device=/dev/null 2>"$work/err"
grep -qx "oskel-update: --device=/dev/null: not a hidraw node (a controller's node is /dev/hidrawN: 'oskel-update --list' names them)" \
    "$work/err" || fail "--device=/dev/null: not said that it is no hidraw node: $(cat "$work/err")"

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
"$program" --list --json >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "--list --json without controllers: exit status $status, expected 0"
perl -MJSON::PP -e 'local $/; my $d = JSON::PP->new->utf8->decode(<STDIN>); exit(ref $d->{controllers} eq "ARRAY" && !@{$d->{controllers}} && keys %$d == 1 ? 0 : 1)' <"$work/out" ||
    fail "--list --json without controllers: not the document of no controller: '$(cat "$work/out")'"

# Start without a controller: the box, exit 3, and no capture file, as no controller was found.
"$program" --verbose --capture="$work/start.pcapng" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 3 ] || fail "Start without a controller: exit status $status, expected 3"
[ "$(cat "$work/out")" = "Device error!" ] || fail "Start without a controller: standard output '$(cat "$work/out")'"
grep -qx 'oskel-update: Device not detected' "$work/err" || fail "--verbose: no 'Device not detected' line"
grep -qx 'oskel-update: SetupDiDestroyDeviceInfoList' "$work/err" || fail "--verbose: no 'SetupDiDestroyDeviceInfoList' line"
all_named "$work/err" || fail "--verbose: a line on standard error without the program's name: $(cat "$work/err")"
[ ! -e "$work/start.pcapng" ] || fail "--capture made its file although no controller was found"

# The program in a mount namespace of its own whose /run holds a udev daemon's control socket
# (udev=yes; a file is all that libudev looks for) or nothing (udev=no, as in a container), so
# that both cases are tried whatever this machine runs. Where no namespace can be made, the
# machine's own /run serves, and the case it does not have is left untried.
udev_here=no
[ -e /run/udev/control ] && udev_here=yes
namespaces=yes
unshare -rm true 2>/dev/null || namespaces=no
in_run() {
    local udev=$1
    shift
    if [ $namespaces = no ]; then
        exec "$@"
    fi
    # shellcheck disable=SC2016
    exec unshare -rm sh -c 'mount -t tmpfs run /run && { [ "$0" = no ] || { mkdir /run/udev && : >/run/udev/control; }; } &&
        exec "$@"' "$udev" "$@"
}
tried() { [ $namespaces = yes ] || [ "$udev_here" = "$1" ]; }

# No udev daemon: --wait says that arrivals cannot be seen here and ends at once with 1.
if tried no; then
    (in_run no timeout 10 "$program" -w) >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 1 ] || fail "--wait without a udev daemon: exit status $status, expected 1: $(cat "$work/err")"
    grep -q '^oskel-update: arrivals cannot be seen here: no udev daemon runs' "$work/err" ||
        fail "--wait without a udev daemon: not said that arrivals cannot be seen: $(cat "$work/err")"
else
    echo "note: no mount namespace here, and this machine runs udevd: --wait without one is not tried"
fi
if ! tried yes; then
    echo "PASS (no mount namespace here, and this machine runs no udevd: --wait's signals are not tried)"
    exit 0
fi

# --wait, started with the given signals ignored and every other one at its default (a script's
# background job would ignore SIGINT and SIGQUIT); the process id in $waiting once it says that
# it waits. Its caller records how it ended ("signal N" or "exit N") in $work/ended.
start_waiting() {
    local ignored=$1 tries=0
    # Emptied first: the background job's own redirection may come after the first look below,
    # which would otherwise find the last run's line and signal the program before its exec.
    : >"$work/err"
    rm -f "$work/pid" "$work/ended"
    (in_run yes perl -e 'my ($ignored, $pidFile, $endFile) = splice @ARGV, 0, 3;
             $SIG{$_} = "DEFAULT" for qw(INT QUIT HUP TERM TSTP);
             $SIG{$_} = "IGNORE" for grep { length } split /,/, $ignored;
             my $pid = fork() // die "fork: $!";
             if ($pid == 0) { exec @ARGV or die "exec: $!"; }
             open my $file, ">", $pidFile or die; print $file "$pid\n"; close $file;
             waitpid $pid, 0;
             open my $end, ">", $endFile or die;
             print $end ($? & 127) ? "signal " . ($? & 127) . "\n" : "exit " . ($? >> 8) . "\n"; close $end' \
        "$ignored" "$work/pid" "$work/ended" "$program" -w) >"$work/out" 2>"$work/err" &
    caller_pid=$!
    until [ -s "$work/pid" ] && grep -q 'waiting for a controller' "$work/err"; do
        [ $tries -lt 100 ] || fail "--wait does not say that it waits: $(cat "$work/err")"
        kill -0 "$caller_pid" 2>/dev/null || fail "--wait ended: $(cat "$work/err")"
        sleep 0.05
        tries=$((tries + 1))
    done
    waiting=$(cat "$work/pid")
}
state_of() { sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null; }
settle() { sleep 0.3; }
# ended_by "signal N"|"exit N" WHAT: the program ended so, as its caller saw it.
ended_by() {
    wait "$caller_pid"
    waiting=
    [ "$(cat "$work/ended" 2>/dev/null)" = "$1" ] || fail "$2: ended by '$(cat "$work/ended" 2>/dev/null)', expected '$1'"
}

# Ctrl-Z stops it while nothing is written, SIGCONT lets it go on, Ctrl-C ends it: by SIGINT
# itself, once it has said how many downloads ran.
start_waiting ""
kill -TSTP "$waiting"; settle
[ "$(state_of "$waiting")" = T ] || fail "--wait: SIGTSTP did not stop it (state $(state_of "$waiting"))"
kill -CONT "$waiting"; settle
[ "$(state_of "$waiting")" = S ] || fail "--wait: SIGCONT did not let it go on (state $(state_of "$waiting"))"
kill -INT "$waiting"
ended_by "signal 2" "--wait ended by SIGINT"
[ "$(grep -c 'waiting for a controller' "$work/err")" -eq 1 ] || fail "--wait says more than once that it waits"
grep -qx 'oskel-update: ended by SIGINT: no download ran' "$work/err" ||
    fail "--wait ended by SIGINT: not said how many downloads ran: $(cat "$work/err")"
all_named "$work/err" || fail "--wait: a line on standard error without the program's name: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "--wait without a controller: standard output '$(cat "$work/out")'"

# A signal the caller ignored stays ignored (nohup); SIGTERM ends it by SIGTERM.
start_waiting HUP
kill -HUP "$waiting"; settle
kill -0 "$waiting" 2>/dev/null || fail "--wait ended by a SIGHUP that its caller ignored"
kill -TERM "$waiting"
ended_by "signal 15" "--wait ended by SIGTERM"
echo PASS
