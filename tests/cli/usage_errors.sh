#!/bin/bash
# Bad usage exits 2 with a one-line error followed by the usage.
set -u
sim="$1"
fail() { echo "FAIL: $*" >&2; exit 1; }
for args in "--bogus" "--device" "--device 25631818" "--device xyz:0001" "--device 2563:1818 --road sideways" \
            "--device 2563:1818 --refuse-report x" ""; do
  # shellcheck disable=SC2086
  err=$("$sim" $args 2>&1 >/dev/null)
  status=$?
  [ "$status" -eq 2 ] || fail "'$args': exit $status, expected 2"
  head -n 1 <<<"$err" | grep -q '^oskel-sim: ' || fail "'$args': no one-line error"
  sed -n 2p <<<"$err" | grep -q '^usage: ' || fail "'$args': no usage after the error"
done
"$sim" --help | grep -q '^usage: ' || fail "--help prints no usage"
echo PASS
