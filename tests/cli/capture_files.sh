#!/bin/bash
# The forms of a capture file that real tools write, made by tests/cli/write_capture.pl apart
# from oskel-sim's writer: pcapng in either byte order and with time stamps in micro-, nano- or
# milliseconds, classic pcap, usbmon headers of 64 and 48 bytes (link types 220 and 189). Each
# form lists the same devices, with their strings, interfaces and transfers, and times as tshark
# shows them; a submission that the host controller refused ('S' then 'E') is one transfer.
# Malformed blocks exit 4 with their reason, block and offset, word for word.
set -u
sim="$1"
make_capture="$2/tests/cli/write_capture.pl"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in tshark jq perl; do command -v $tool >/dev/null || fail "$tool is not installed (tools/setup.sh host)"; done

cat >"$work/expected" <<'EOF'
device bus 3, address 1, no descriptors in the capture (frame 1, 0.000000 s)
  endpoint 0x81 interrupt IN: 1 transfer
device bus 3, address 7, 1209:0001 (frame 3, 1.500000 s)
  manufacturer "Acme Ünïcode"
  product "Test pad"
  serial number "SN-0042"
  interface 0: class 0x03 HID, subclass 0, protocol 0, endpoints 0x81; report descriptor: 1 collection (usage page:usage 0001:0005)
  endpoint 0x00 control: 10 transfers
  endpoint 0x81 interrupt IN: 4 transfers (1 not completed)
EOF
for form in pcapng pcapng-big pcapng-ns pcapng-ms pcap pcap-ns-big; do
    for link in 220 189; do
        name="$form-$link"
        perl "$make_capture" "$form" "$link" >"$work/$name" || fail "$name: cannot write it"
        "$sim" --list-devices "$work/$name" >"$work/$name.out" 2>&1 || { cat "$work/$name.out" >&2; fail "$name: not read"; }
        head -n 1 "$work/$name.out" | grep -qx "capture: ${form%%-*}, 30 frames, link type $link (Linux usbmon.*)" ||
            fail "$name: $(head -n 1 "$work/$name.out")"
        tail -n +2 "$work/$name.out" | diff "$work/expected" - >&2 || fail "$name: the devices differ"
        # tshark reads the same file alike: the device's first frame 1.5 s after the first, no expert note.
        [ "$(tshark -r "$work/$name" -Y 'frame.number == 3' -T fields -e frame.time_relative -e usb.bus_id \
              -e usb.device_address 2>/dev/null)" = $'1.500000000\t3\t7' ] || fail "$name: tshark reads it otherwise"
        [ -z "$(tshark -r "$work/$name" -q -z expert 2>/dev/null)" ] || fail "$name: tshark has expert notes"
    done
done
"$sim" --list-devices "$work/pcapng-220" --json | jq -c '.devices[1] | [.bus, .address, .vendorId, .productId,
    .manufacturer, .serialNumber, .interfaces[0].collections, (.endpoints | map([.endpoint, .type, .transfers, .failed]))]' \
    >"$work/json" || fail "--json failed"
[ "$(cat "$work/json")" = '[3,7,"1209","0001","Acme Ünïcode","SN-0042",[{"usagePage":"0001","usage":"0005"}],[["0x00","control",10,0],["0x81","interrupt",4,1]]]' ] ||
    fail "the JSON differs: $(cat "$work/json")"
# It holds no update-mode device: exit 3, naming what it does hold.
"$sim" --check-capture "$work/pcapng-220" --device 0461:4d81 2>"$work/err" >/dev/null
[ $? -eq 3 ] || fail "a capture without the device did not exit 3"
[ "$(cat "$work/err")" = "oskel-sim: capture $work/pcapng-220: no device 0461:4d81 in the capture; it describes 1209:0001 at bus 3 address 7; devices without descriptors (the capture began after their enumeration): bus 3 address 1, name one with --address BUS.DEV" ] ||
    { cat "$work/err" >&2; fail "the missing device's error differs"; }

# Malformed blocks: the reason, the block and its offset, also as JSON.
while IFS='|' read -r defect number offset reason; do
    perl "$make_capture" pcapng 220 "$defect" >"$work/$defect"
    "$sim" --list-devices "$work/$defect" --json >"$work/$defect.json" 2>"$work/$defect.err"
    [ $? -eq 4 ] || fail "$defect: not exit 4"
    [ "$(cat "$work/$defect.err")" = "oskel-sim: capture $work/$defect: block $number at offset $offset: $reason" ] ||
        { cat "$work/$defect.err" >&2; fail "$defect: the error differs"; }
    [ "$(jq -r '.error | "\(.number) (\(.blockType)) at offset \(.offset): \(.reason)"' "$work/$defect.json")" = \
      "$number at offset $((offset)): $reason" ] || fail "$defect: the JSON error differs"
done <<'EOF'
short-section|1 (section header)|0x0|body of 12 bytes, a section header has at least 16
short-interface|2 (interface description)|0x1c|body of 4 bytes, an interface description has at least 8
short-packet|3 (enhanced packet)|0x3c|body of 16 bytes, a packet block has at least 20
tsoffset|2 (interface description)|0x1c|if_tsoffset of 4 bytes, it has 8
EOF
echo PASS
