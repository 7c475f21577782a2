#!/bin/bash
# oskel-sim --check-capture: an exported download of each mode, in both link types and as
# Wireshark's own tools rewrite it (pcapng, classic pcap), conforms and wrote the image; a
# capture with one byte changed is refused at that report, with the model's reason, the report's
# bytes and the flash note, word for word; a report whose submission the host controller refused
# ('S' then 'E') counts once; a cut or damaged file exits 4 with the block and its offset.
set -u
sim="$1"
images="$2/res/firmware"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v editcap >/dev/null || fail "editcap is not installed (tools/setup.sh installs tshark)"

# A fixed tick count makes the scrambled reports of protocol 1 the same in every run.
export_download() {  # device road link name
    "$sim" --device "$1" --road "$2" --time-scale 1000 --tick 5000 --pcap-link "$3" --pcap "$work/$4.pcapng" \
        --trace "$work/$4.trace" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; fail "$4: the download failed"; }
}

expect_conforms() {  # capture device image
    "$sim" --check-capture "$1" --device "$2" --image "$3" >"$work/out" 2>&1 ||
        { cat "$work/out" >&2; fail "$1: the check refused an exported download"; }
    grep -q '^conforms: ' "$work/out" || fail "$1: no 'conforms'"
    grep -q '^the download is complete$' "$work/out" || fail "$1: the download is not complete"
    grep -q '^flash: equal to the image' "$work/out" || fail "$1: the flash differs from the image"
}

# Writes to "$work/changed.pcapng" the capture with one byte of a report changed: the byte of
# report (the trace's hex, as it travels) at offset within it, XORed with 0x01; prints the
# changed report's hex.
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
        print unpack("H*", substr($bytes, $first, length $report));
    ' "$1" "$work/changed.pcapng" "$2" "$3" 2>"$work/err" || fail "cannot change the byte: $(cat "$work/err")"
}

# The verdict on the changed capture, past the device line and with the frame's time left out,
# is the refusal, the report's bytes as the host held them and the flash note, word for word.
expect_refused() {  # device image refusal bytes
    "$sim" --check-capture "$work/changed.pcapng" --device "$1" --image "$2" >"$work/out" 2>&1
    [ $? -eq 1 ] || { cat "$work/out" >&2; fail "$1: a changed capture was not refused"; }
    printf '%s\n  its bytes: %s\nflash: not compared, the check stopped before the end of the download\n' "$3" "$4" \
        >"$work/expected"
    tail -n +3 "$work/out" | sed 's/, [0-9.]* s)/, T s)/' | diff "$work/expected" - >&2 ||
        fail "$1: the refusal differs"
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
changed=$(change_byte "$work/mode2-usbmon.pcapng" "$report" 30)
expect_refused 2563:1818 "$images/mode2.bin" \
    "report 101 refused by the protocol 2 model (frame 209, T s): data checksum 0x1a23, the data sum to 0x1a24" "$changed"
# Protocol 1 over SET_REPORT (USBPcap): the scrambled checksum of report 200 no longer fits.
report=$(grep '^set-output ok ' "$work/mode1-usbpcap.trace" | sed -n 200p | cut -d' ' -f3)
changed=$(change_byte "$work/mode1-usbpcap.pcapng" "$report" 20)
expect_refused 2563:0059 "$images/mode1.bin" \
    "report 200 refused by the protocol 1 model (frame 409, T s): bad checksum 0x8F, expected 0x9E" "$changed"
# Protocol 3: block 49 (report 50) carries the number 48 (its low byte is report byte 3, the
# second byte on the bus, where the report id 0 does not travel).
report=$(grep '^write ok ' "$work/mode3-usbpcap.trace" | sed -n 50p | cut -d' ' -f3 | cut -c3-)
changed=$(change_byte "$work/mode3-usbpcap.pcapng" "$report" 2)
expect_refused 0461:4d81 "$images/mode3.bin" \
    "report 50 refused by the protocol 3 model (frame 205, T s): block 48, expected block 49" "00$changed"

# The kernel writes a submission that the host controller refuses as 'S' then 'E' (here: the
# completion of report 100, which the device refused, made into that error event). It is one
# report that the device did not take, as the completion was.
"$sim" --device 2563:1818 --refuse-report 100 --time-scale 1000 --pcap "$work/refused.pcapng" >/dev/null 2>&1
perl -e '
    local $/; my $b = <STDIN>; my $made = 0;
    for (my $at = 0; $at < length $b; $at += unpack("V", substr($b, $at + 4, 4))) {
        next unless unpack("V", substr($b, $at, 4)) == 6;      # enhanced packet block
        my $usbmon = $at + 28;                                  # its packet data
        next unless substr($b, $usbmon + 8, 1) eq "C" && unpack("l<", substr($b, $usbmon + 28, 4)) == -32;
        substr($b, $usbmon + 8, 1) = "E";
        ++$made;
    }
    die "no stalled completion\n" unless $made == 1;
    print $b;' <"$work/refused.pcapng" >"$work/submit-error.pcapng" || fail "cannot make the error event"
"$sim" --check-capture "$work/submit-error.pcapng" --device 2563:1818 >"$work/out"
[ $? -eq 1 ] || fail "a download that stopped at a refused submission conforms"
cat >"$work/expected" <<'EOF'
report 100 (frame F): the device refused it (stall), not fed to the model
conforms so far: the protocol 2 model took every report that the device took: 100 output reports (100 interrupt OUT, 0 SET_REPORT) and 0 input requests; 0 input reports from the device
the download is not complete
EOF
tail -n +3 "$work/out" | sed 's/(frame [0-9]*, [0-9.]* s)/(frame F)/' | diff "$work/expected" - >&2 ||
    fail "the refused submission is not one report that the device did not take"

# A cut file and a damaged block length: errors that name the block, no verdict.
size=$(stat -c %s "$work/mode2-usbmon.pcapng")
head -c $((size - 100)) "$work/mode2-usbmon.pcapng" >"$work/cut.pcapng"
"$sim" --check-capture "$work/cut.pcapng" --device 2563:1818 >"$work/out" 2>"$work/err"
[ $? -eq 4 ] || fail "a cut capture did not exit 4"
grep -q "^oskel-sim: capture .*cut.pcapng: block [0-9]* (enhanced packet) at offset 0x[0-9a-f]*: truncated" "$work/err" ||
    { cat "$work/err" >&2; fail "the cut capture's error does not name the block"; }
[ ! -s "$work/out" ] || fail "a verdict for a cut capture"
perl -e 'local $/; my $b = <STDIN>; substr($b, 4, 4) = pack("V", 0x7FFFFFF0); print $b' \
    <"$work/mode2-usbmon.pcapng" >"$work/damaged.pcapng"
"$sim" --check-capture "$work/damaged.pcapng" --device 2563:1818 2>"$work/err" >/dev/null
[ $? -eq 4 ] || fail "a damaged capture did not exit 4"
grep -q "^oskel-sim: capture .*: block 1 (section header) at offset 0x0: truncated, the block has 2147483632 bytes" "$work/err" ||
    { cat "$work/err" >&2; fail "the damaged capture's error does not name the block"; }
echo PASS
