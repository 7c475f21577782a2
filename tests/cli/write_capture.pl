#!/usr/bin/perl
# Writes to standard output a small usbmon capture made independently of oskel-sim's writer, in
# the forms real tools write, for the capture tests and the fuzzers' seeds:
#
#   write_capture.pl FORM LINK [DEFECT]
#   FORM    pcapng (little-endian, microseconds), pcapng-big (big-endian section), pcapng-ns
#           (if_tsresol 9), pcapng-ms (if_tsresol 3), pcap (microseconds), pcap-ns-big
#   LINK    220 (usbmon, 64-byte header) or 189 (48-byte header)
#   DEFECT  short-section, short-interface, short-packet: that block's body cut short;
#           tsoffset: an if_tsoffset of 4 bytes
#
# What it holds, at bus 3: the root hub (address 1), whose enumeration the capture lacks, reports
# a port change; then a device at address 7 is enumerated (1209:0001 with a manufacturer, product
# and serial number string, one HID game-pad interface with its interrupt IN endpoint 0x81),
# sends three input reports, and a fourth interrupt URB is refused by the host controller ('S'
# then 'E'). Every time is a whole millisecond, so that every form holds it exactly.
use strict;
use warnings;
no warnings 'portable';  # 64-bit URB tags

my ($form, $link, $defect) = @ARGV;
die "usage: write_capture.pl FORM LINK [DEFECT]\n" unless $form && $link && ($link == 220 || $link == 189);
$defect //= '';
my $big = $form =~ /big/;
my $e = $big ? '>' : '<';
my $start = 1700000000;  # seconds

my @packets;  # [ms, tag, type, transfer, endpoint, address, setup, status, length, data]
sub event { push @packets, [@_] }
sub utf16 { my $b = pack('v*', map { ord } split //, shift); return pack('CC', 2 + length $b, 3) . $b }

my $tag = 0xffff888012340000;
my $hub = 1;
my $dev = 7;
# The root hub's status URB: submitted at 0, a port change at 1 s.
event(0, $tag, 'S', 1, 0x81, $hub, undef, -115, 1, '');
event(1000, $tag, 'C', 1, 0x81, $hub, undef, 0, 1, "\x02");

my $device = pack('CCvCCCCvvvCCCC', 18, 1, 0x0200, 0, 0, 0, 64, 0x1209, 0x0001, 0x0100, 1, 2, 3, 1);
my $report = pack('C*', 0x05, 0x01, 0x09, 0x05, 0xa1, 0x01, 0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x04,
                  0x81, 0x02, 0xc0);
my $configuration = pack('CCvCCCCC', 9, 2, 34, 1, 1, 0, 0x80, 50) . pack('CCCCCCCCC', 9, 4, 0, 0, 1, 3, 0, 0, 0) .
                    pack('CCvCCCv', 9, 0x21, 0x0111, 0, 1, 0x22, length $report) . pack('CCCCvC', 7, 5, 0x81, 3, 8, 10);
my @control = (
    [pack('CCvvv', 0x80, 6, 0x0100, 0, 18), $device],
    [pack('CCvvv', 0x80, 6, 0x0200, 0, 9), substr($configuration, 0, 9)],
    [pack('CCvvv', 0x80, 6, 0x0200, 0, 34), $configuration],
    [pack('CCvvv', 0x80, 6, 0x0300, 0, 255), pack('CCv', 4, 3, 0x0409)],
    [pack('CCvvv', 0x80, 6, 0x0301, 0x0409, 255), utf16("Acme \x{dc}n\x{ef}code")],
    [pack('CCvvv', 0x80, 6, 0x0302, 0x0409, 255), utf16("Test pad")],
    [pack('CCvvv', 0x80, 6, 0x0303, 0x0409, 255), utf16("SN-0042")],
    [pack('CCvvv', 0x00, 9, 1, 0, 0), ''],
    [pack('CCvvv', 0x21, 0x0a, 0, 0, 0), ''],
    [pack('CCvvv', 0x81, 6, 0x2200, 0, length $report), $report],
);
my $ms = 1500;
for my $request (@control) {
    my ($setup, $reply) = @$request;
    my $in = (unpack('C', $setup) & 0x80) != 0;
    $tag += 0x100;
    event($ms, $tag, 'S', 2, $in ? 0x80 : 0, $dev, $setup, -115, unpack('x6 v', $setup), '');
    event($ms + 1, $tag, 'C', 2, $in ? 0x80 : 0, $dev, undef, 0, length $reply, $reply);
    $ms += 2;
}
for my $n (1 .. 3) {
    $tag += 0x100;
    event($ms, $tag, 'S', 1, 0x81, $dev, undef, -115, 8, '');
    event($ms + 1, $tag, 'C', 1, 0x81, $dev, undef, 0, 4, pack('C4', $n, 0x80, 0x80, 0));
    $ms += 2;
}
$tag += 0x100;
event($ms, $tag, 'S', 1, 0x81, $dev, undef, -115, 8, '');
event($ms + 1, $tag, 'E', 1, 0x81, $dev, undef, -113, 0, '');

sub usbmon {
    my ($ms, $id, $type, $transfer, $endpoint, $address, $setup, $status, $length, $data) = @_;
    my $header = pack("Q${e}aCCCS${e}aaq${e}l${e}l${e}L${e}L${e}a8", $id, $type, $transfer, $endpoint, $address, 3,
                      defined $setup ? "\0" : '-', length $data ? "\0" : ($type eq 'S' ? '<' : '>'),
                      $start + int($ms / 1000), ($ms % 1000) * 1000, $status, $length, length $data,
                      $setup // "\0" x 8);
    $header .= pack("l${e}l${e}L${e}L${e}", $transfer == 1 ? 10 : 0, 0, ($endpoint & 0x80) ? 0x200 : 0, 0)
        if $link == 220;
    return $header . $data;
}

sub block {
    my ($type, $body) = @_;
    $body .= "\0" x ((4 - length($body) % 4) % 4);
    my $length = 12 + length $body;
    return pack("L${e}L${e}", $type, $length) . $body . pack("L${e}", $length);
}

sub option {
    my ($code, $value) = @_;
    my $pad = "\0" x ((4 - length($value) % 4) % 4);
    return pack("S${e}S${e}", $code, length $value) . $value . $pad;
}

binmode STDOUT;
if ($form =~ /^pcapng/) {
    my $resolution = $form eq 'pcapng-ns' ? 9 : $form eq 'pcapng-ms' ? 3 : 6;
    my $section = pack("L${e}S${e}S${e}q${e}", 0x1a2b3c4d, 1, 0, -1);
    $section = substr($section, 0, 12) if $defect eq 'short-section';
    print block(0x0a0d0d0a, $section);
    my $interface = pack("S${e}S${e}L${e}", $link, 0, 0) . option(9, pack('C', $resolution));
    $interface .= option(14, pack("L${e}", 0)) if $defect eq 'tsoffset';
    $interface .= option(0, '');
    $interface = substr($interface, 0, 4) if $defect eq 'short-interface';
    print block(1, $interface);
    print block(6, pack("L${e}L${e}L${e}L${e}", 0, 0, 0, 0)) if $defect eq 'short-packet';
    for my $p (@packets) {
        my $units = $start * 1000 + $p->[0];
        $units *= 10 for 4 .. $resolution;  # integers: 64 bits hold nanoseconds since 1970
        my $data = usbmon(@$p);
        print block(6, pack("L${e}L${e}L${e}L${e}L${e}", 0, $units >> 32, $units & 0xffffffff, length $data,
                            length $data) . $data);
    }
} else {
    my $nano = $form =~ /ns/;
    print pack("L${e}S${e}S${e}l${e}L${e}L${e}L${e}", $nano ? 0xa1b23c4d : 0xa1b2c3d4, 2, 4, 0, 0, 65535, $link);
    for my $p (@packets) {
        my $data = usbmon(@$p);
        my $fraction = ($p->[0] % 1000) * ($nano ? 1000000 : 1000);
        print pack("L${e}L${e}L${e}L${e}", $start + int($p->[0] / 1000), $fraction, length $data, length $data), $data;
    }
}
