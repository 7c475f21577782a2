#!/bin/bash
# oskel-capture-compare on the unplug's last report, with captures made by oskel-sim of one
# download of 2563:1818 whose controller goes after taking 100 reports:
#
#   capture_compare_test.sh COMPARE SIM
#
# The program's capture holds the 100 reports; a kernel's record of the same download made from
# the run that refuses report 101, its stalled completion rewritten as usbmon writes each ending:
# 'E' -19, the submission that the host controller refused for a gone device (vhci-hcd's
# "enqueue for inactive port"), never reached the bus and is no report transfer, so the two are
# the same; 'C' -108, the transfer given back when the device went while it was on the bus, and
# 'E' -32, a submission refused for another reason, are a report transfer the program's capture
# lacks, and the comparison says so.
set -u
compare="$1"
sim="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --device 2563:1818 --remove-after 100 --time-scale 1000 --pcap "$work/program.pcapng" >/dev/null 2>&1
"$sim" --device 2563:1818 --refuse-report 101 --time-scale 1000 --pcap "$work/refused.pcapng" >/dev/null 2>&1

# kernel_record TYPE STATUS NAME: the refused run's capture with the stalled completion of report
# 101 made into an event of that type and status.
kernel_record() {
    perl -e '
        my ($type, $status) = @ARGV;
        local $/; my $b = <STDIN>; my $made = 0;
        for (my $at = 0; $at < length $b; $at += unpack("V", substr($b, $at + 4, 4))) {
            next unless unpack("V", substr($b, $at, 4)) == 6;      # enhanced packet block
            my $usbmon = $at + 28;                                  # its packet data
            next unless substr($b, $usbmon + 8, 1) eq "C" && unpack("l<", substr($b, $usbmon + 28, 4)) == -32;
            substr($b, $usbmon + 8, 1) = $type;
            substr($b, $usbmon + 28, 4) = pack("l<", $status);
            ++$made;
        }
        die "no stalled completion\n" unless $made == 1;
        print $b;' "$1" "$2" <"$work/refused.pcapng" >"$work/$3.pcapng" || fail "cannot make the kernel's record $3"
}

kernel_record E -19 gone-at-submission
kernel_record C -108 unplugged-on-the-bus
kernel_record E -32 refused-at-submission

"$compare" "$work/program.pcapng" "$work/gone-at-submission.pcapng" --device 2563:1818 >"$work/out" 2>&1 ||
    { cat "$work/out" >&2; fail "a submission refused for a gone device counts as a report transfer"; }
tail -1 "$work/out" | grep -qx 'same 100 report transfers (100 interrupt OUT)' ||
    { cat "$work/out" >&2; fail "not the 100 reports the controller took"; }

for name in unplugged-on-the-bus refused-at-submission; do
    "$compare" "$work/program.pcapng" "$work/$name.pcapng" --device 2563:1818 >"$work/out" 2>&1
    [ $? -eq 1 ] || { cat "$work/out" >&2; fail "$name: the program's capture lacks a report transfer, yet they are the same"; }
    grep -q "^the kernel's capture has 1 report transfers more, from frame [0-9]*: interrupt endpoint 0x01 " "$work/out" ||
        { cat "$work/out" >&2; fail "$name: the difference is not the report transfer that the program's capture lacks"; }
done
echo PASS
