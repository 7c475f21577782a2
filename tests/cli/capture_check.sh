#!/bin/bash
# oskel-sim --check-capture: an exported download of each mode, in both link types and as
# Wireshark's own tools rewrite it (pcapng, classic pcap), conforms and wrote the image; a
# capture with one byte changed is refused at that report; a cut or damaged file is an error
# that names the block.
set -u
sim="$1"
images="$2/res/firmware"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v editcap >/dev/null || fail "editcap is not installed (tools/setup.sh installs tshark)"

export_download() {  # device road link name
    "$sim" --device "$1" --road "$2" --time-scale 1000 --pcap-link "$3" --pcap "$work/$4.pcapng" \
        --trace "$work/$4.trace" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; fail "$4: the download failed"; }
}

expect_conforms() {  # capture device image
    "$sim" --check-capture "$1" --device "$2" --image "$3" >"$work/out" 2>&1 ||
        { cat "$work/out" >&2; fail "$1: the check refused an exported download"; }
    grep -q '^conforms: ' "$work/out" || fail "$1: no 'conforms'"
    grep -q '^the download is complete$' "$work/out" || fail "$1: the download is not complete"
    grep -q '^flash: equal to the image' "$work/out" || fail "$1: the flash differs from the image"
}

# Writes to "$work/changed.pcapng" the capture with one byte of a report changed: the first
# byte of report (the trace's hex, as it travels) at offset within it, XORed with 0x01.
change_byte() {  # capture report-hex offset
    perl -e '
        my ($in, $out, $hex, $at) = @ARGV;
        local $/; open(my $f, "<:raw", $in) or die; my $bytes = <$f>; close $f;
        my $report = pack("H*", $hex);
        my $first = index($bytes, $report);
        die "report not in the capture\n" if $first < 0;
        die "report twice in the capture\n" if index($bytes, $report, $first + 1) >= 0;
        substr($bytes, $first + $at, 1) = chr(ord(substr($bytes, $first + $at, 1)) ^ 1);
        open($f, ">:raw", $out) or die; print $f $bytes; close $f;
    ' "$1" "$work/changed.pcapng" "$2" "$3" 2>"$work/err" || fail "cannot change the byte: $(cat "$work/err")"
}

expect_refused() {  # device report-number error-text
    "$sim" --check-capture "$work/changed.pcapng" --device "$1" >"$work/out" 2>&1
    [ $? -eq 1 ] || { cat "$work/out" >&2; fail "$1: a changed capture was not refused"; }
    grep -q "^report $2 refused by the protocol [123] model (frame [0-9]*, [0-9.]* s): $3" "$work/out" ||
        { cat "$work/out" >&2; fail "$1: not refused at report $2 with '$3'"; }
}

for link in usbmon usbpcap; do
    export_download 2563:0059 arrival "$link" "mode1-$link"
    expect_conforms "$work/mode1-$link.pcapng" 2563:0059 "$images/mode1.bin"
    export_download 2563:1818 start "$link" "mode2-$link"
    expect_conforms "$work/mode2-$link.pcapng" 2563:1818 "$images/mode2.bin"
    export_download 0461:4d81 start "$link" "mode3-$link"
    expect_conforms "$work/mode3-$link.pcapng" 0461:4d81 "$images/mode3.bin"
done

# The files that Wireshark's own writer makes of them: pcapng, and classic pcap in micro- and
# nanoseconds.
editcap -F pcapng "$work/mode1-usbpcap.pcapng" "$work/mode1-wireshark.pcapng"
expect_conforms "$work/mode1-wireshark.pcapng" 2563:0059 "$images/mode1.bin"
editcap -F pcap "$work/mode3-usbmon.pcapng" "$work/mode3.pcap"
expect_conforms "$work/mode3.pcap" 0461:4d81 "$images/mode3.bin"
grep -q '^capture: pcap, ' "$work/out" || fail "mode3.pcap not read as classic pcap"
editcap -F nsecpcap "$work/mode2-usbpcap.pcapng" "$work/mode2.pcap"
expect_conforms "$work/mode2.pcap" 2563:1818 "$images/mode2.bin"

# The flash against another image.
"$sim" --check-capture "$work/mode2-usbmon.pcapng" --device 2563:1818 --image "$images/mode1.bin" >"$work/out"
[ $? -eq 1 ] || fail "a flash compared with the wrong image passed"
grep -q '^flash: differs from the image in [0-9]* of the bytes from 0x0000 to 0x7817, first at ' "$work/out" ||
    { cat "$work/out" >&2; fail "no 'flash: differs'"; }

# One byte changed. Protocol 2, data report 100 (report 101): a data byte breaks its sum.
report=$(grep '^write ok ' "$work/mode2-usbmon.trace" | sed -n 101p | cut -d' ' -f3)
change_byte "$work/mode2-usbmon.pcapng" "$report" 30
expect_refused 2563:1818 101 "data checksum 0x"
# Protocol 1 over SET_REPORT (USBPcap): the scrambled checksum of report 200 no longer fits.
report=$(grep '^set-output ok ' "$work/mode1-usbpcap.trace" | sed -n 200p | cut -d' ' -f3)
change_byte "$work/mode1-usbpcap.pcapng" "$report" 20
expect_refused 2563:0059 200 "bad checksum 0x"
# Protocol 3: block 49 (report 50) carries the number 48 (its low byte is report byte 3, the
# second byte on the bus, where the report id 0 does not travel).
report=$(grep '^write ok ' "$work/mode3-usbpcap.trace" | sed -n 50p | cut -d' ' -f3 | cut -c3-)
change_byte "$work/mode3-usbpcap.pcapng" "$report" 2
expect_refused 0461:4d81 50 "block 48, expected block 49"

# A cut file and a damaged block length: errors that name the block, no verdict.
size=$(stat -c %s "$work/mode2-usbmon.pcapng")
head -c $((size - 100)) "$work/mode2-usbmon.pcapng" >"$work/cut.pcapng"
"$sim" --check-capture "$work/cut.pcapng" --device 2563:1818 >"$work/out" 2>"$work/err"
[ $? -eq 1 ] || fail "a cut capture was not an error"
grep -q "^oskel-sim: capture .*cut.pcapng: block [0-9]* (enhanced packet) at offset 0x[0-9a-f]*: truncated" "$work/err" ||
    { cat "$work/err" >&2; fail "the cut capture's error does not name the block"; }
[ ! -s "$work/out" ] || fail "a verdict for a cut capture"
perl -e 'local $/; my $b = <STDIN>; substr($b, 4, 4) = pack("V", 0x7FFFFFF0); print $b' \
    <"$work/mode2-usbmon.pcapng" >"$work/damaged.pcapng"
"$sim" --check-capture "$work/damaged.pcapng" --device 2563:1818 2>"$work/err" >/dev/null
grep -q "^oskel-sim: capture .*: block 1 (section header) at offset 0x0: truncated, the block has 2147483632 bytes" "$work/err" ||
    { cat "$work/err" >&2; fail "the damaged capture's error does not name the block"; }
echo PASS
