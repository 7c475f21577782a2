#!/bin/bash
# "Start" with a controller in update mode 0x0461:0x4D81: begin, 3379 acknowledged blocks, end.
set -u
sim="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --device 0461:4d81 --trace "$work/trace" --flash-out "$work/flash" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || { cat "$work/err" >&2; fail "exit status $status, expected 0"; }
grep -q "Download Successful!" "$work/out" || fail "no \"Download Successful!\" shown"
[ ! -s "$work/err" ] || { cat "$work/err" >&2; fail "diagnostics on stderr"; }
trace="$work/trace"
[ "$(grep -c '^write ok 00bac1' "$trace")" -eq 3379 ] || fail "expected 3379 blocks"
[ "$(grep -c '^read ok ' "$trace")" -eq 3381 ] || fail "expected 3381 replies"
grep -q '^write ok 00bac0330d5dfd02' "$trace" || fail "begin report fields"
grep -q '^write ok 00bac2340d' "$trace" || fail "end report count field"
cmp "$work/flash" "$2/res/firmware/mode3.bin" || fail "flash differs from the image"
[ "$(tail -n 1 "$trace")" = "exit 0" ] || fail "the trace does not end with 'exit 0'"
echo PASS
