#!/usr/bin/env bash
# Runs the updater's logic against a simulated controller (default: the device of update mode 2).
#   tools/simulate.sh [oskel-sim options]     e.g. --device 0461:4d81 --road arrival
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh host  # the host build only: no Wine, no MinGW
cmake --preset host >/dev/null
cmake --build --preset host --target oskel-sim >/dev/null
if (($# == 0)); then set -- --device 2563:1818; fi
exec build/host/oskel-sim "$@"
