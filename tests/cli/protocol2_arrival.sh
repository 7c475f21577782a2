#!/bin/bash
# A controller in update mode 0x2563:0x1818 is plugged in: the download starts on its own.
set -u
sim="$1"
out=$("$sim" --device 2563:1818 --road arrival 2>&1)
status=$?
[ "$status" -eq 0 ] || { echo "$out" >&2; echo "FAIL: exit status $status, expected 0" >&2; exit 1; }
grep -q "Download Successful!" <<<"$out" || { echo "FAIL: no \"Download Successful!\"" >&2; exit 1; }
echo PASS
