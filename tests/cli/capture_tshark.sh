#!/bin/bash
# tshark reads an exported download of each mode, in both link types, as USB with HID reports:
# the transfers of each kind, their report ids and their bytes are those of the trace; every
# packet keeps the device's bus and address; tshark finds no malformed packet and has no expert
# note on any; usbmon's transfer flags are usbhid's. The composite controller's keyboard
# interface gets the system's LED report, its vendor interface the download.
set -u
sim="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v tshark >/dev/null || fail "tshark is not installed (tools/setup.sh installs it)"

# The trace's report operations as the bus carries them: an unnumbered device's leading 0 byte
# does not travel. Lines: "out ID HEX", "in ID HEX", "set-report ID TYPE HEX", "get-report ID TYPE HEX".
from_trace() {  # trace numbered(0|1)
    awk -v numbered="$2" '
        function byte(hex) { return index("0123456789abcdef", substr(hex, 1, 1)) * 16 + index("0123456789abcdef", substr(hex, 2, 1)) - 17 }
        function wire(hex) { return numbered ? hex : substr(hex, 3) }
        function id(hex) { return numbered ? "0x" substr(hex, 1, 2) : "-" }
        $1 == "write" && $2 == "ok" { print "out", id($3), wire($3) }
        $1 == "read" && $2 == "ok" { print "in", id($3), wire($3) }
        $1 == "set-output" && $2 == "ok" { printf "set-report %d 2 %s\n", byte($3), $3 }
        $1 == "get-input" && $2 == "ok" { printf "get-report %d 1 %s\n", byte($3), $3 }
        ($1 == "write" || $1 == "read" || $1 == "set-output" || $1 == "get-input") && $2 != "ok" { print "FAILED", $0 }
    ' "$1"
}

# The same lines from tshark's HID dissection. A GET_REPORT's answer is not shown as a field by
# the HID dissector, so its bytes come from a second pass with the HID dissector off, as the
# control response of the request.
from_tshark() {  # capture
    tshark -r "$1" --disable-protocol usbhid -Y usb.control.Response -T fields -E separator='|' \
        -e usb.request_in -e usb.control.Response >"$work/responses" 2>/dev/null
    tshark -r "$1" -T fields -E separator='|' -e frame.number -e usb.transfer_type \
        -e usb.endpoint_address.direction -e usb.urb_type -e usb.irp_info.direction -e usb.urb_status \
        -e usb.usbd_status -e usbhid.setup.bRequest -e usbhid.setup.ReportID -e usbhid.setup.ReportType \
        -e usbhid.data.report_id -e usbhid.data -e usb.data_fragment 2>/dev/null |
    awk -F'|' -v responses="$work/responses" '
        BEGIN { while ((getline line < responses) > 0) { split(line, f, "|"); answer[f[1]] = f[2] } }
        {
            submit = ($4 == "'"'"'S'"'"'" || $5 == "0x00")
            if (!submit && $6 != "" && $6 != "0") print "STATUS", $0
            if (!submit && $7 != "" && $7 != "0x00000000") print "STATUS", $0
            rid = $11 == "" ? "-" : $11
            if ($2 == "0x01" && $3 == "0" && submit) print "out", rid, $12
            if ($2 == "0x01" && $3 == "1" && !submit) print "in", rid, $12
            if ($8 == "0x09" && submit) print "set-report", $9, $10, $13
            if ($8 == "0x01" && submit) print "get-report", $9, $10, answer[$1]
        }'
}

# Every packet at bus.address; no expert note; on usbmon, the flags usbhid's URBs carry: its
# interrupt IN URB is mapped for DMA by the driver, and usb_submit_urb adds the direction.
check_packets() {  # capture link bus.address
    [ -z "$(tshark -r "$1" -q -z expert 2>/dev/null)" ] ||
        { tshark -r "$1" -q -z expert 2>/dev/null | head >&2; fail "$1: tshark has expert notes"; }
    local places
    places=$(tshark -r "$1" -T fields -e usb.bus_id -e usb.device_address 2>/dev/null | sort -u | tr '\t' .)
    [ "$places" = "$3" ] || fail "$1: packets at $places, expected $3 only"
    # The configuration's attributes as USB requires them: bit 7 set, the reserved bits 0-4 clear.
    local attributes
    attributes=$(tshark -r "$1" -T fields -e usb.configuration.bmAttributes 2>/dev/null | sort -u | tr -d '\n')
    [ -n "$attributes" ] || fail "$1: no configuration descriptor"
    (( (attributes & 0x9F) == 0x80 )) || fail "$1: configuration attributes $attributes"
    [ "$2" = usbmon ] || return 0
    tshark -r "$1" -T fields -e frame.number -e usb.transfer_type -e usb.endpoint_address.direction \
        -e usb.transfer_flags.no_transfer_dma_map -e usb.transfer_flags.dir_in 2>/dev/null |
        awk '{ dma = ($2 == "0x01" && $3 == "1") ? 1 : 0; if ($4 != dma || $5 != $3) print }' >"$work/flags"
    [ ! -s "$work/flags" ] || { head -5 "$work/flags" >&2; fail "$1: transfer flags that are not usbhid's"; }
}

check_mode() {  # device road numbered link expected-counts bus.address [oskel-sim options]
    local device="$1" road="$2" numbered="$3" link="$4" counts="$5" place="$6"
    shift 6
    local name="${device/:/-}-$link$*"
    name="${name// /}"
    "$sim" --device "$device" --road "$road" --time-scale 1000 --trace "$work/$name.trace" \
        --pcap "$work/$name.pcapng" --pcap-link "$link" --address "$place" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; fail "$name: the download failed"; }
    check_packets "$work/$name.pcapng" "$link" "$place"
    # A keyboard interface first gets its LED report (report id 0, one byte: all off).
    { [ "$*" != --keyboard-first ] || echo "set-report 0 2 00"; from_trace "$work/$name.trace" "$numbered"; } \
        >"$work/$name.expected"
    from_tshark "$work/$name.pcapng" >"$work/$name.seen"
    if [ "$*" = --keyboard-first ]; then
        # The LED report to interface 0 (the keyboard), the download on interface 1's endpoints.
        [ "$(tshark -r "$work/$name.pcapng" -Y 'usbhid.setup.bRequest == 0x09' -T fields -e usbhid.setup.wIndex 2>/dev/null)" = 0 ] &&
        [ "$(tshark -r "$work/$name.pcapng" -Y 'usb.transfer_type == 0x01' -T fields -e usb.endpoint_address 2>/dev/null |
             sort -u | tr '\n' ' ')" = "0x02 0x82 " ] || fail "$name: not the keyboard's LED report and interface 1's download"
    fi
    [ -s "$work/$name.seen" ] || fail "$name: tshark shows no report"
    diff "$work/$name.expected" "$work/$name.seen" >"$work/diff" ||
        { head -20 "$work/diff" >&2; fail "$name: tshark and the trace disagree"; }
    local seen
    seen=$(awk '{ n[$1]++ } END { printf "out=%d in=%d set-report=%d get-report=%d", n["out"], n["in"], n["set-report"], n["get-report"] }' "$work/$name.seen")
    [ "$seen" = "$counts" ] || fail "$name: $seen, expected $counts"
    echo "$name: $seen"
}

for link in usbmon usbpcap; do
    programs=$(od -An -v -tx1 -w32 -j 2560 -N $((32767 - 2560)) "$2/res/firmware/mode1.bin" |
        awk '{ for (i = 1; i <= NF; ++i) if ($i != "ff") { ++n; break } } END { print n + 0 }')
    check_mode 2563:0059 arrival 1 "$link" "out=0 in=0 set-report=$((1 + 59 + programs + 1)) get-report=1" 1.2
    check_mode 2563:1818 start 1 "$link" "out=550 in=0 set-report=0 get-report=0" 2.5
    check_mode 0461:4d81 start 0 "$link" "out=3381 in=3381 set-report=0 get-report=0" 4.9
    check_mode 0461:4d81 start 0 "$link" "out=3381 in=3381 set-report=1 get-report=0" 3.127 --keyboard-first
done
echo PASS
