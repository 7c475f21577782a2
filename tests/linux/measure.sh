#!/usr/bin/env bash
# Each mode's download by the updater against the bare loop of the same reports through the same
# kernel stack, and both against the full-speed floor, in the test machine of tests/linux/ (test
# rig only):
#
#   tests/linux/measure.sh [HOST_BUILD [UPDATER]]
#
# HOST_BUILD: build/host, with its rig programs built; UPDATER: the program under test, by
# default the one the host build's tests run (OSKEL_LINUX_UPDATER).
#
# One boot runs, for each mode, the bare loop (oskel-hidraw-loop; mode 1's requests on endpoint 0
# through usbfs) and then the updater (oskel-update: the Start road for modes 2 and 3, --wait
# --once for mode 1, whose updater runs only once its scenarios run on USB), each against a
# freshly plugged USB controller (oskel-usbip-rig, at the bus's pace). The time of a download is
# the controller's own: from the first output report that reached it to the last (timing.txt of
# its record); the process's whole run is given beside it; each figure is the median of five
# runs. The floor is 1 ms per transfer (reports and replies). Prints a Markdown table for
# docs/performance.md. Without the program under test (build/linux/oskel-update) it measures the
# bare loop alone, the rig's own cost.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/host}
work=$build/linux-rig-measure
updater=${2:-$(sed -n 's/^OSKEL_LINUX_UPDATER:FILEPATH=//p' "$build/CMakeCache.txt")}
run=(bash tests/linux/vm/run_scenario.sh --rig-bin "$build/linux-rig" --updater "$updater" --work "$work"
  --image1 res/firmware/mode1.bin --image2 res/firmware/mode2.bin --image3 res/firmware/mode3.bin)
"${run[@]}" initramfs
rm -rf "$work/measure"
"${run[@]}" measure >/dev/null || true
[[ -d $work/measure/out ]] || { echo "measure: the machine sent no results" >&2; exit 1; }
out=$work/measure/out

# The controller's time from its first report to its last, in ms with one decimal; "failed" when
# its download was not whole.
report_span() {
  local first last
  [[ $(sed -n '1s/^complete=\([01]\).*/\1/p' "$1/status.txt" 2>/dev/null) == 1 ]] || { echo failed; return; }
  first=$(sed -n 's/.*first-report-us=\([0-9]*\).*/\1/p' "$1/timing.txt")
  last=$(sed -n 's/.*last-report-us=\([0-9]*\).*/\1/p' "$1/timing.txt")
  awk -v us=$((last - first)) 'BEGIN { printf "%.1f", us / 1000 }'
}
# The median of the runs' figures (any "failed" among them makes it "failed").
median() {
  if printf '%s\n' "$@" | grep -qv '^[0-9.]*$'; then echo failed; return; fi
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
# median_of KIND MODE: the median report span of the controllers KIND-modeMODE-*.
median_of() {
  local dir spans=()
  for dir in "$out/$1-mode$2"-*; do [[ -d $dir ]] && spans+=("$(report_span "$dir")"); done
  ((${#spans[@]})) && median "${spans[@]}" || echo "not measured"
}
# process_of NAME MODE: the median run time of the processes NAMEMODE-*.
process_of() {
  local file times=()
  for file in "$out/$1$2"-*.ms; do [[ -f $file ]] && times+=("$(cat "$file")"); done
  ((${#times[@]})) && median "${times[@]}" || echo -
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }

echo "Medians of $(ls -d "$out"/loop-mode1-* | wc -l) runs; kernel $(sed -n 's/^kernel=//p' "$work/initramfs.txt")."
echo
echo "| Mode | Transfers (floor, ms) | Bare loop (ms) | oskel-update (ms) | oskel-update / bare loop | Bare loop / floor | oskel-update / floor | Bare loop process (ms) | oskel-update process (ms) |"
echo "|---|---|---|---|---|---|---|---|---|"
for mode in 1 2 3; do
  loop=$(median_of loop $mode)
  program=$(median_of updater $mode)
  floor=$(sed -n '1s/.* reports=\([0-9]*\).* replies=\([0-9]*\).*/\1 \2/p' "$out/loop-mode$mode-1/status.txt" 2>/dev/null |
    awk '{ print $1 + $2 }')
  echo "| $mode | $floor | $loop | $program | $(ratio "$program" "$loop") | $(ratio "$loop" "$floor") |" \
    "$(ratio "$program" "$floor") | $(process_of loop $mode) | $(process_of updater $mode) |"
done
