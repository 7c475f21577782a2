#!/bin/bash
# oskel-sim --check-capture judges each device of a capture on its own, in order, and only the
# updater's interface of each: a failed and then a good download of one controller (replugged at
# the same address), one that enumerates again and gets no download, two controllers updated at
# once (on two buses, the same address), and a composite controller whose keyboard interface gets
# the system's LED report. A capture that began after the enumeration is checked by --address. --list-devices and --json answer for each,
# and the exit status tells a verdict from a missing device and from a file that cannot be read.
set -u
sim="$1"
images="$2/res/firmware"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in mergecap editcap jq; do command -v $tool >/dev/null || fail "$tool is not installed (tools/setup.sh host)"; done

export_run() {  # name expected-status oskel-sim-options...
    local name="$1" expected="$2"
    shift 2
    "$sim" "$@" --pcap "$work/$name.pcapng" >/dev/null 2>"$work/$name.err"
    [ $? -eq "$expected" ] || { cat "$work/$name.err" >&2; fail "$name: the run did not exit $expected"; }
}

# check NAME DEVICE IMAGE EXPECTED-STATUS [options]: the verdict in $work/NAME.out, its JSON in
# $work/NAME.json, both with the expected exit status.
check() {
    local name="$1" device="$2" image="$3" expected="$4"
    shift 4
    "$sim" --check-capture "$work/$name.pcapng" --device "$device" --image "$images/$image" "$@" \
        >"$work/$name.out" 2>"$work/$name.err"
    local status=$?
    [ $status -eq "$expected" ] || { cat "$work/$name.out" "$work/$name.err" >&2; fail "$name: exit $status, expected $expected"; }
    "$sim" --check-capture "$work/$name.pcapng" --device "$device" --image "$images/$image" --json "$@" \
        >"$work/$name.json" 2>/dev/null
    [ $? -eq "$expected" ] || fail "$name: --json exits otherwise"
}

lines() { grep -c "$2" "$work/$1.out"; }
json() { jq -r "$2" "$work/$1.json"; }

# 1. A download that fails at report 100 (the controller stalls it), then the controller is
# plugged in again at the same address and downloads: two devices, the first does not conform.
export_run failed 1 --device 2563:1818 --time-scale 1000 --refuse-report 100
export_run good 0 --device 2563:1818 --time-scale 1000
mergecap -w "$work/replugged.pcapng" "$work/failed.pcapng" "$work/good.pcapng"
check replugged 2563:1818 mode2.bin 1
[ "$(lines replugged '^device 2563:1818 (protocol 2): bus 1, address 2 (frame [0-9]*, [0-9.]* s), interface 0 (endpoints 0x81, 0x01)$')" = 2 ] ||
    { cat "$work/replugged.out" >&2; fail "replugged: not two devices at bus 1, address 2"; }
sed -n '/^device /,$p' "$work/replugged.out" | sed 's/(frame [0-9]*, [0-9.]* s)/(frame F)/' >"$work/replugged.seen"
cat >"$work/replugged.expected" <<'EOF'
device 2563:1818 (protocol 2): bus 1, address 2 (frame F), interface 0 (endpoints 0x81, 0x01)
report 100 (frame F): the device refused it (stall), not fed to the model
conforms so far: the protocol 2 model took every report that the device took: 100 output reports (100 interrupt OUT, 0 SET_REPORT) and 0 input requests; 0 input reports from the device
the download is not complete
flash: differs from the image in 24982 of the bytes from 0x0000 to 0x7817, first at 0x1570 (flash 0xff, image 0xcd)
device 2563:1818 (protocol 2): bus 1, address 2 (frame F), interface 0 (endpoints 0x81, 0x01)
conforms: the protocol 2 model took every report that the device took: 550 output reports (550 interrupt OUT, 0 SET_REPORT) and 0 input requests; 0 input reports from the device
the download is complete
flash: equal to the image from 0x0000 to 0x7817, the bytes protocol 2 writes
2 devices 2563:1818 in the capture: 1 conforming, 1 not conforming, 0 without a download
EOF
diff "$work/replugged.expected" "$work/replugged.seen" >&2 || fail "replugged: the verdict differs"
[ "$(json replugged '[.check.status, (.check.devices | map(.conforms, .complete, .notTaken, .flash.result) | join(" "))] | join(" / ")')" = \
  "does not conform / false false 1 differs true true 0 equal" ] || fail "replugged: the JSON verdict differs"

# The controller enumerates once more after its download and gets nothing (here: the updater
# cannot open it): that device is listed without a download and leaves the verdict to the one
# that got it. Alone, it does not conform.
export_run idle 1 --device 2563:1818 --probe-open-fails
mergecap -w "$work/again.pcapng" "$work/good.pcapng" "$work/idle.pcapng"
check again 2563:1818 mode2.bin 0
tail -n 2 "$work/again.out" | diff <(printf '%s\n' "no download: the host sent it no report" \
    "2 devices 2563:1818 in the capture: 1 conforming, 0 not conforming, 1 without a download") - >&2 ||
    fail "again: the device without a download is not set apart"
check idle 2563:1818 mode2.bin 1
[ "$(json idle '[.check.status, .check.devices[0].idle] | join(" ")')" = "does not conform true" ] ||
    fail "idle: the JSON verdict differs"

# 2. Two controllers updated at once, at bus 1 and bus 2, both at address 3: their reports
# interleave in the capture, and each device conforms on its own.
"$sim" --device 2563:1818 --latency 1 --address 1.3 --pcap "$work/first.pcapng" >/dev/null 2>&1 &
first=$!
export_run second 0 --device 2563:1818 --latency 1 --address 2.3
wait $first || fail "two: the first controller's download failed"
mergecap -w "$work/two.pcapng" "$work/first.pcapng" "$work/second.pcapng"
interleaved=$(tshark -r "$work/two.pcapng" -Y 'usb.transfer_type == 0x01' -T fields -e usb.bus_id 2>/dev/null | uniq | wc -l)
[ "$interleaved" -gt 2 ] || fail "two: the downloads did not overlap ($interleaved runs of one bus), nothing proven"
check two 2563:1818 mode2.bin 0
[ "$(lines two '^the download is complete$')" = 2 ] && [ "$(lines two '^flash: equal to the image')" = 2 ] ||
    { cat "$work/two.out" >&2; fail "two: not both complete and equal to the image"; }
[ "$(json two '.check.devices | map("\(.bus).\(.address) \(.conforms)") | sort | join(", ")')" = "1.3 true, 2.3 true" ] ||
    fail "two: the JSON verdicts differ"
check two 2563:1818 mode2.bin 0 --address 2.3
[ "$(grep -c '^device ' "$work/two.out")" = 1 ] && grep -q '^device 2563:1818 (protocol 2): bus 2, address 3 ' "$work/two.out" ||
    { cat "$work/two.out" >&2; fail "--address 2.3 did not pick the controller at bus 2"; }
# --list-devices counts every endpoint's transfers as tshark does, device by device (tshark's
# completions, 'C' being 0x43).
"$sim" --list-devices "$work/two.pcapng" --json >"$work/list.json" || fail "--list-devices failed"
jq -r '.devices[] | .bus as $b | .address as $a | .endpoints[] | "\($b) \($a) \(.endpoint) \(.transfers)"' \
    "$work/list.json" | sort >"$work/list.seen"
tshark -r "$work/two.pcapng" -Y 'usb.urb_type == 0x43' -T fields -e usb.bus_id -e usb.device_address \
    -e usb.endpoint_address 2>/dev/null | awk '{ ep = $3; if (ep == "0x80") ep = "0x00"; n[$1 " " $2 " " ep]++ }
    END { for (k in n) print k, n[k] }' | sort >"$work/list.expected"
diff "$work/list.expected" "$work/list.seen" >&2 || fail "--list-devices and tshark count the transfers differently"

# 3. A composite controller: a boot keyboard (interface 0) that the system sets the LEDs of, and
# the vendor interface (1) that the download uses; the LED report is other traffic.
export_run keyboard 0 --device 0461:4d81 --keyboard-first --time-scale 1000
check keyboard 0461:4d81 mode3.bin 0
grep -q '^device 0461:4d81 (protocol 3): bus 1, address 2 (frame 1, 0.000000 s), interface 1 (endpoints 0x82, 0x02)$' \
    "$work/keyboard.out" && grep -q '^other traffic: 1 transfer of other interfaces and endpoints, not judged$' "$work/keyboard.out" ||
    { cat "$work/keyboard.out" >&2; fail "keyboard: not judged on interface 1 alone"; }
[ "$(json keyboard '.check.devices[0] | "\(.interfaceFrom) \(.interface) \(.otherTraffic) \(.outputReports)"')" = \
  "report descriptor 1 1 3381" ] || fail "keyboard: the JSON verdict differs"
"$sim" --list-devices "$work/keyboard.pcapng" >"$work/keyboard.list"
grep -q '^  interface 0: class 0x03 HID, subclass 1, protocol 1, endpoints 0x81; report descriptor: 1 collection (usage page:usage 0001:0006)$' \
    "$work/keyboard.list" ||
    { cat "$work/keyboard.list" >&2; fail "keyboard: --list-devices does not show the boot keyboard"; }

# 4. A capture that began after the enumeration (the first 8 frames cut): no device is
# described, so --device alone finds none (exit 3, naming what there is); --address checks it.
editcap "$work/good.pcapng" "$work/late.pcapng" 1-8 2>/dev/null
"$sim" --check-capture "$work/late.pcapng" --device 2563:1818 >"$work/late.out" 2>"$work/late.err"
[ $? -eq 3 ] || fail "late: a capture without descriptors did not exit 3"
[ "$(cat "$work/late.err")" = "oskel-sim: capture $work/late.pcapng: no device 2563:1818 in the capture; devices without descriptors (the capture began after their enumeration): bus 1 address 2, name one with --address BUS.DEV" ] ||
    { cat "$work/late.err" >&2; fail "late: the error differs"; }
check late 2563:1818 mode2.bin 0 --address 1.2
grep -q '^device 2563:1818 (protocol 2): bus 1, address 2 (frame 1, 0.000000 s), named by its address: no descriptors in the capture, all its traffic judged$' \
    "$work/late.out" || { cat "$work/late.out" >&2; fail "late: not checked by its address"; }
check late 2563:1818 mode2.bin 3 --address 1.5
[ "$(cat "$work/late.err")" = "oskel-sim: capture $work/late.pcapng: no device 2563:1818 at bus 1 address 5 in the capture; devices without descriptors (the capture began after their enumeration): bus 1 address 2, name one with --address BUS.DEV" ] ||
    { cat "$work/late.err" >&2; fail "late: the error for --address 1.5 differs"; }
[ "$(json late '"\(.check.status) \(.check.address)"')" = "no such device 1.5" ] || fail "late: the JSON of a missing device differs"

# Standard input, and a file that cannot be read: exit 4, the block and its offset.
"$sim" --check-capture - --device 2563:1818 <"$work/good.pcapng" >"$work/stdin.out" || fail "standard input: not read"
grep -q '^the download is complete$' "$work/stdin.out" || fail "standard input: no verdict"
head -c 1000 "$work/good.pcapng" | "$sim" --list-devices - --json >"$work/cut.json" 2>"$work/cut.err"
[ $? -eq 4 ] || fail "a cut capture did not exit 4"
[ "$(jq -r '.error | "\(.unit) \(.number) \(.offset)"' "$work/cut.json")" = "block 10 836" ] ||
    { cat "$work/cut.json" >&2; fail "a cut capture's JSON error differs"; }
grep -qx 'oskel-sim: capture standard input: block 10 (enhanced packet) at offset 0x344: truncated, the block has 212 bytes, the file 164 from there' \
    "$work/cut.err" || { cat "$work/cut.err" >&2; fail "a cut capture's error differs"; }
echo PASS
