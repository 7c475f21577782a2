#!/usr/bin/env bash
# Makes the fwupd cabinet of one update mode's image (tools/release.sh and the VM rig call it):
#
#   tools/make-cab.sh MODE IMAGE VERSION OUT-DIR [LICENSE]
#
# writes OUT-DIR/oskel-controller-mode<MODE>-<VERSION>.cab, holding firmware.bin (the image) and
# firmware.metainfo.xml (res/fwupd/firmware.metainfo.xml.in): the GUID of the mode's USB instance
# ID, as fwupd makes it, the plugin's update protocol for the mode (its quirk file), the version,
# the image's SHA-1 and SHA-256, and the firmware's licence (SPDX; LicenseRef-proprietary unless
# given). The mode's ids come from the table of modes (state/download_modes.h). The same inputs and
# SOURCE_DATE_EPOCH give the same bytes. Prints the cabinet's path.
set -euo pipefail

mode=${1:?usage: make-cab.sh MODE IMAGE VERSION OUT-DIR [LICENSE]}
image=${2:?usage: make-cab.sh MODE IMAGE VERSION OUT-DIR [LICENSE]}
version=${3:?usage: make-cab.sh MODE IMAGE VERSION OUT-DIR [LICENSE]}
out=${4:?usage: make-cab.sh MODE IMAGE VERSION OUT-DIR [LICENSE]}
license=${5:-LicenseRef-proprietary}
root="$(cd "$(dirname "$0")/.." && pwd)"
: "${SOURCE_DATE_EPOCH:?make-cab.sh needs SOURCE_DATE_EPOCH (the commit time)}"

die() { printf 'make-cab: %s\n' "$*" >&2; exit 1; }
for tool in gcab python3 sha1sum sha256sum; do
  command -v "$tool" >/dev/null || die "$tool is missing (tools/setup.sh installs it)"
done
[[ -f $image ]] || die "no image at $image"

# "{MODE, 0xVVVV, 0xPPPP, ..." in the table of modes
ids=$(sed -n "s/^ *{$mode, 0x\([0-9A-Fa-f]\{4\}\), 0x\([0-9A-Fa-f]\{4\}\),.*/\1:\2/p" "$root/state/download_modes.h")
[[ $ids =~ ^[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}$ ]] || die "no update mode $mode in state/download_modes.h"
vid=$(echo "${ids%:*}" | tr a-f A-F)
pid=$(echo "${ids#*:}" | tr a-f A-F)
instance_id="USB\\VID_${vid}&PID_${pid}"
# fwupd's GUID of an instance ID: a name-based (SHA-1) UUID in the DNS namespace
guid=$(python3 -c 'import sys, uuid; print(uuid.uuid5(uuid.NAMESPACE_DNS, sys.argv[1]))' "$instance_id")
protocol=$(awk -v group="[$instance_id]" '$0 == group { found = 1; next }
  /^\[/ { found = 0 } found && $1 == "Protocol" { print $3 }' "$root/fwupd/oskel-controller/oskel-controller.quirk")
[[ -n $protocol ]] || die "the plugin's quirk file names no Protocol for $instance_id"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$image" "$work/firmware.bin"
sed -e "s|@MODE@|$mode|g" -e "s|@IDS@|$vid:$pid|g" -e "s|@GUID@|$guid|g" -e "s|@PROTOCOL@|$protocol|g" \
  -e "s|@VERSION@|$version|g" -e "s|@DATE@|$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)|g" \
  -e "s|@LICENSE@|$license|g" \
  -e "s|@SHA1@|$(sha1sum <"$image" | cut -d' ' -f1)|g" -e "s|@SHA256@|$(sha256sum <"$image" | cut -d' ' -f1)|g" \
  "$root/res/fwupd/firmware.metainfo.xml.in" >"$work/firmware.metainfo.xml"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$work/firmware.metainfo.xml" >"$work/appstream.txt" 2>&1 ||
    { cat "$work/appstream.txt" >&2; die "firmware.metainfo.xml does not pass appstreamcli validate"; }
fi
chmod 644 "$work/firmware.bin" "$work/firmware.metainfo.xml"
touch -d "@$SOURCE_DATE_EPOCH" "$work/firmware.bin" "$work/firmware.metainfo.xml"

mkdir -p "$out"
out=$(cd "$out" && pwd)
cab="$out/oskel-controller-mode$mode-$version.cab"
(cd "$work" && gcab --create --nopath "$cab.new" firmware.metainfo.xml firmware.bin) || die "gcab failed"
mv "$cab.new" "$cab"
echo "$cab"
