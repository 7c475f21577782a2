#!/bin/bash
# A controller in update mode 0x0461:0x4D81 is plugged in: the download starts on its own.
set -u
sim="$1"
out=$("$sim" --device 0461:4d81 --road arrival 2>&1)
status=$?
[ "$status" -eq 0 ] || { echo "$out" >&2; echo "FAIL: exit status $status, expected 0" >&2; exit 1; }
grep -q "Download Successful!" <<<"$out" || { echo "FAIL: no \"Download Successful!\"" >&2; exit 1; }
echo PASS
