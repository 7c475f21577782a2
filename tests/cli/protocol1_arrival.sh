#!/usr/bin/env bash
# A 0x2563:0x0059 controller plugged in: its second interface's arrival starts protocol 1, the
# whole image below its last byte reaches the flash, and the run ends with success.
set -u
sim="$1"
source_dir="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --device 2563:0059 --road arrival --time-scale 1000 --tick 4242 \
    --trace "$work/trace" --flash-out "$work/flash" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
grep -q "Download Successful!" "$work/out" || fail "no 'Download Successful!' shown"
grep -q "Download Failture!" "$work/out" && fail "'Download Failture!' shown"
grep -q "^device:" "$work/err" && fail "the device found protocol errors: $(cat "$work/err")"

# The traffic: identify, its reply, 59 erases, program reports, finish last.
awk '$1 == "set-output" { print $2, substr($4, 7, 2) }' "$work/trace" >"$work/commands"
[ "$(head -n 1 "$work/commands")" = "ok b4" ] || fail "the first report is not the identify command"
identify="$(awk '$1 == "set-output" { print $4; exit }' "$work/trace")"
[ "${identify:0:16}" = "03b538b4000000a4" ] || fail "identify report reads $identify"
grep -q "^get-input ok 02" "$work/trace" || fail "input report 2 was not read"
[ "$(grep -c "^ok 8a$" "$work/commands")" -eq 59 ] || fail "not 59 erase reports"
[ "$(tail -n 1 "$work/commands")" = "ok a4" ] || fail "the last report is not the finish command"
grep -qv "^ok" "$work/commands" && fail "a report was refused"
# One program report per 32-byte chunk from 0x0A00 to 0x7FFE that holds a byte other than 0xFF.
image="$source_dir/res/firmware/mode1.bin"
expected="$(od -An -v -tx1 -w32 -j 2560 -N $((32767 - 2560)) "$image" |
    awk '{ for (i = 1; i <= NF; ++i) if ($i != "ff") { ++n; break } } END { print n + 0 }')"
programs="$(grep -c "^ok 79$" "$work/commands")"
[ "$programs" -eq "$expected" ] || fail "$programs program reports, expected $expected"
[ "$expected" -lt 944 ] || fail "the test image has no blank chunk"

# The flash: the boot loader below 0x0A00 untouched, the image from 0x0A00 to 0x7FFE, and
# the last byte blank because it is never sent.
[ "$(stat -c %s "$work/flash")" -eq 32768 ] || fail "flash of the wrong size"
cmp -s -i 2560 -n $((32767 - 2560)) "$image" "$work/flash" || fail "flash differs from the image"
last="$(od -An -tx1 -j 32767 -N 1 "$work/flash" | tr -d ' ')"
[ "$last" = "ff" ] || fail "flash byte 0x7FFF is $last, not blank"
[ "$(tail -n 1 "$work/trace")" = "exit 0" ] || fail "trace does not end with 'exit 0'"
echo "ok: $programs program reports"
