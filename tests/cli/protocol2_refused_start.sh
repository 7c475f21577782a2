#!/bin/bash
# A device that never takes the start report: ten attempts, ten pauses, failure.
set -u
sim="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --device 2563:1818 --refuse-start 10 --time-scale 1000 --trace "$work/trace" >"$work/out" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
grep -q "Download Failture!" "$work/out" || fail "no \"Download Failture!\" shown"
[ "$(grep -c '^write fail 03256347' "$work/trace")" -eq 10 ] || fail "expected 10 refused start reports"
[ "$(grep -c '^write ' "$work/trace")" -eq 10 ] || fail "nothing but start reports may be written"
[ "$(grep -c '^sleep 1000$' "$work/trace")" -eq 10 ] || fail "expected 10 pauses of 1000 ms"
[ "$(grep '^progress ' "$work/trace" | tr '\n' ' ')" = "progress 0 " ] || fail "only the reset to 0 may move the bar"
[ "$(tail -n 1 "$work/trace")" = "exit 1" ] || fail "the trace does not end with 'exit 1'"
echo PASS
