#!/usr/bin/env bash
# A 0x2563:0x0059 controller that does not answer input report 2: the user sees the unrecognised
# device box, then the failure, and nothing follows the identify report.
set -u
sim="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --device 2563:0059 --road arrival --time-scale 1000 --no-identify-reply \
    --trace "$work/trace" --flash-out "$work/flash" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
unrecognised="$(grep -n "无法识别的设备" "$work/out" | head -n 1 | cut -d: -f1)"
failure="$(grep -n "Download Failture!" "$work/out" | head -n 1 | cut -d: -f1)"
[ -n "$unrecognised" ] || fail "no '无法识别的设备' shown"
[ -n "$failure" ] || fail "no 'Download Failture!' shown"
[ "$unrecognised" -lt "$failure" ] || fail "the boxes came in the wrong order"
grep -q "Download Successful!" "$work/out" && fail "'Download Successful!' shown"
grep -q "^message 错误 | 无法识别的设备$" "$work/trace" || fail "no box with caption '错误' in the trace"

[ "$(grep -c "^set-output" "$work/trace")" -eq 1 ] || fail "traffic after the identify report"
[ "$(grep -c "^get-input fail" "$work/trace")" -eq 1 ] || fail "input report 2 not asked for once"
# The old application is still there.
blank="$(od -An -v -tx1 -j 2560 -N 512 "$work/flash" | tr -s ' \n' '\n' | grep -c '^ff$')"
[ "$blank" -eq 0 ] || fail "the flash was erased"
echo "ok"
