#!/usr/bin/env bash
# Each mode's download by the updater against the bare loop of the same reports through the same
# hidraw node, in the test machine of tests/linux/ (test rig only):
#
#   tests/linux/measure.sh [HOST_BUILD]     (HOST_BUILD: build/host, with its rig programs built)
#
# One boot runs, for each mode, the bare loop (oskel-hidraw-loop) and then the updater
# (oskel-update: the Start road for modes 2 and 3, --wait --once for mode 1), each against a
# freshly plugged controller. The time of a download is the controller's own: from the first
# output report that reached it to the last (timing.txt of its record); the process's whole run
# is given beside it. Prints a Markdown table for docs/performance.md. Without the program under
# test (build/linux/oskel-update) it measures the bare loop alone, the rig's own cost.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/host}
work=$build/linux-rig-measure
updater=$(sed -n 's/^OSKEL_LINUX_UPDATER:FILEPATH=//p' "$build/CMakeCache.txt")
run=(bash tests/linux/vm/run_scenario.sh --rig-bin "$build/linux-rig" --updater "$updater" --work "$work"
  --image1 res/firmware/mode1.bin --image2 res/firmware/mode2.bin --image3 res/firmware/mode3.bin)
"${run[@]}" initramfs
"${run[@]}" measure >/dev/null || true
out=$work/measure/out

# The controller's time from its first report to its last, in ms with one decimal.
report_span() {
  local first last
  first=$(sed -n 's/.*first-report-us=\([0-9]*\).*/\1/p' "$1/timing.txt" 2>/dev/null)
  last=$(sed -n 's/.*last-report-us=\([0-9]*\).*/\1/p' "$1/timing.txt" 2>/dev/null)
  [[ -n $first && -n $last && $first != 0 ]] || { echo "-"; return; }
  awk -v us=$((last - first)) 'BEGIN { printf "%.1f", us / 1000 }'
}
complete() { sed -n '1s/^complete=\([01]\).*/\1/p' "$1/status.txt" 2>/dev/null; }
figure() { [[ $(complete "$1") == 1 ]] && report_span "$1" || echo "failed"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }

echo "| Mode | Reports and replies | Bare loop (ms) | oskel-update (ms) | Ratio | Bare loop process (ms) | oskel-update process (ms) |"
echo "|---|---|---|---|---|---|---|"
for mode in 1 2 3; do
  loop=$(figure "$out/loop-mode$mode")
  operations=$(sed -n '1s/.* reports=\([0-9]*\).* replies=\([0-9]*\).*/\1 + \2/p' "$out/loop-mode$mode/status.txt" 2>/dev/null)
  if [[ -d $out/updater-mode$mode ]]; then
    program=$(figure "$out/updater-mode$mode")
    program_ms=$(cat "$out/updater$mode.ms" 2>/dev/null || echo -)
  else
    program="not built" program_ms=-
  fi
  echo "| $mode | $operations | $loop | $program | $(ratio "$program" "$loop") | $(cat "$out/loop$mode.ms" 2>/dev/null || echo -) | $program_ms |"
done
