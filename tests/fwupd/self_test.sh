#!/usr/bin/env bash
# Runs the fwupd plugin's self-test, which fwupd's build made beside fwupdtool:
#   self_test.sh FWUPDTOOL
# Exit status: the self-test's; 77 (skipped) when fwupdtool was not built.
set -euo pipefail
fwupdtool=${1:-}
if [[ -z $fwupdtool || ! -x $fwupdtool ]]; then
  echo "skipped: fwupdtool is not built (OSKEL_FWUPDTOOL='$fwupdtool'; tools/build-fwupd.sh builds it)"
  exit 77
fi
self_test=$(dirname "$fwupdtool")/../plugins/oskel-controller/oskel-controller-self-test
[[ -x $self_test ]] || { echo "no self-test beside $fwupdtool: $self_test"; exit 1; }
exec "$self_test"
