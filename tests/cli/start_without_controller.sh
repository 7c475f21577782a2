#!/bin/bash
# Start with no supported controller: "Device error!" and exit 1; with a controller in its
# normal mode: no box at all and exit 1 (nothing was downloaded).
set -u
sim="$1"
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$sim" --device 1234:5678 --trace "$trace" 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "unknown device: exit $status, expected 1"
grep -qx '\[Error\] Device error!' <<<"$out" || { echo "$out" >&2; fail "no \"Device error!\" box"; }
[ "$(grep -c '^message ' "$trace")" -eq 1 ] || fail "unknown device: expected exactly one box"
grep -qx 'message Error | Device error!' "$trace" || fail "the trace lacks the box"
[ "$(tail -n 1 "$trace")" = "exit 1" ] || fail "the trace does not end with exit 1"
! grep -q '^controls ' "$trace" || fail "unknown device: a worker ran"

out=$("$sim" --device 045e:028e --trace "$trace" 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "normal-mode controller: exit $status, expected 1"
! grep -q '^message ' "$trace" || fail "normal-mode controller: a box was shown"
! grep -q '^controls ' "$trace" || fail "normal-mode controller: a worker ran"
grep -q '^open rw ok .*vid_045e&pid_028e' "$trace" || fail "the controller was not opened"
echo PASS
