#!/bin/bash
# "Start" with a controller in update mode 0x2563:0x1818: the whole stream, and its trace.
set -u
sim="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --device 2563:1818 --trace "$work/trace" --flash-out "$work/flash" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || { cat "$work/err" >&2; fail "exit status $status, expected 0"; }
grep -q "Download Successful!" "$work/out" || fail "no \"Download Successful!\" shown"
[ ! -s "$work/err" ] || { cat "$work/err" >&2; fail "diagnostics on stderr"; }

trace="$work/trace"
[ "$(head -n 1 "$trace")" = "# oskel-trace 1" ] || fail "first trace line is not '# oskel-trace 1'"
start="write ok 03256347$(printf '0%.0s' $(seq 120))"
[ "$(grep -c '^write ' "$trace")" -eq 550 ] || fail "expected 550 writes"
[ "$(grep '^write ' "$trace" | head -n 1)" = "$start" ] || fail "the first write is not the start report"
[ "$(grep -c '^write ok 03256387' "$trace")" -eq 549 ] || fail "expected 549 accepted data reports"
# Offsets 0x0000, 0x0038, ... 0x77e0, in order: bytes 6 and 7 of each data report.
offsets=$(grep '^write ok 03256387' "$trace" | cut -c22-25 | tr '\n' ' ')
expected=$(for k in $(seq 0 548); do printf '%04x ' $((k * 56)); done)
[ "$offsets" = "$expected" ] || fail "data report offsets out of order"
[ "$(grep -c '^progress ' "$trace")" -eq 551 ] || fail "expected 549 + 2 progress lines"
[ "$(grep '^progress ' "$trace" | head -n 2 | tr '\n' ' ')" = "progress 1 progress 18 " ] || fail "first positions"
[ "$(grep '^progress ' "$trace" | tail -n 3 | tr '\n' ' ')" = "progress 9366 progress 10000 progress 0 " ] || fail "last positions"
grep -qx 'message Download | Download Successful!' "$trace" || fail "no message line"
[ "$(tail -n 1 "$trace")" = "exit 0" ] || fail "the trace does not end with 'exit 0'"

# The device's flash holds image bytes 0..30743 and is erased after them.
cmp -n 30744 "$work/flash" "$2/res/firmware/mode2.bin" || fail "flash differs from the image"
[ "$(tail -c +30745 "$work/flash" | tr -d '\377' | wc -c)" -eq 0 ] || fail "flash written past 0x7817"
echo PASS
