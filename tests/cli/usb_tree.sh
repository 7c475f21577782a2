# oskel-sim with simulated USB trees: Start with a controller in its normal mode walks the
# tree and ends the walk with one "topology match=N" line.
# usage: bash usb_tree.sh <oskel-sim> <source dir>
set -u
sim="$1"
src="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The sample tree: its controller answers with a match.
"$sim" --device 045E:028E --usb-tree "$src/tests/data/usb-tree-sample.txt" --trace "$work/sample.trace" >/dev/null
[ "$(grep -c '^topology ' "$work/sample.trace")" = 1 ] || fail "sample: not one topology line"
grep -qx 'topology match=1' "$work/sample.trace" || fail "sample: no match"
grep -q '^message ' "$work/sample.trace" && fail "sample: a message box was shown"

# A tree whose device answers with other text.
cat > "$work/plain.txt" <<'TREE'
controller 4
  root-hub name=USB#ROOT_HUB#plain ports=1
    port 1
      device product="Pad" identification="RQ418 0"
TREE
"$sim" --device 045E:028E --usb-tree "$work/plain.txt" --trace "$work/plain.trace" >/dev/null
grep -qx 'topology match=0' "$work/plain.trace" || fail "plain: expected match=0"
# The walk's traffic is in the trace: all ten controller names tried, the identification
# string requested (wValue 0x03FF, wIndex 0x0036, wLength 255) from the device on port 1.
for n in 0 1 2 3 4 5 6 7 8 9; do
  grep -qxF -e "usb-open ok \\\\.\\HCD$n" -e "usb-open fail \\\\.\\HCD$n" "$work/plain.trace" ||
    fail "plain: HCD$n not tried"
done
grep -q '^usb-request ok 0x220410 010000000000ff033600ff00' "$work/plain.trace" ||
  fail "plain: no identification-string request to port 1"
[ "$(grep -n '^topology ' "$work/plain.trace" | cut -d: -f1)" -gt "$(grep -n '^usb-' "$work/plain.trace" | tail -1 | cut -d: -f1)" ] ||
  fail "plain: the topology line does not follow the walk's traffic"

# Without --usb-tree the default tree is walked.
"$sim" --device 2563:0575 --trace "$work/default.trace" >/dev/null
grep -qx 'topology match=1' "$work/default.trace" || fail "default tree: expected match=1"

# An update-mode device starts a download and walks nothing.
"$sim" --device 2563:1818 --time-scale 1000 --usb-tree "$src/tests/data/usb-tree-sample.txt" --trace "$work/update.trace" >/dev/null
grep -q '^topology ' "$work/update.trace" && fail "update mode: the topology was walked"

# A tree file with a mistake is refused with its line number and status 2.
printf 'controller 0\n  root-hub name=X ports=1\n    port 2\n' > "$work/bad.txt"
"$sim" --device 045E:028E --usb-tree "$work/bad.txt" 2>"$work/bad.err" >/dev/null
status=$?
[ "$status" = 2 ] || fail "bad tree: exit status $status"
grep -q 'line 2' "$work/bad.err" || fail "bad tree: no line number in: $(cat "$work/bad.err")"
echo "ok"
