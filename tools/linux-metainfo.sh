#!/usr/bin/env bash
# Writes the Linux program's AppStream metadata for a release (every package and the tarball carry
# it): res/linux's file with this release added, dated at the commit, checked with
# appstreamcli validate.
#
#   tools/linux-metainfo.sh VERSION OUT-FILE
set -euo pipefail
version=${1:?usage: linux-metainfo.sh VERSION OUT-FILE}
out=${2:?usage: linux-metainfo.sh VERSION OUT-FILE}
root="$(cd "$(dirname "$0")/.." && pwd)"
: "${SOURCE_DATE_EPOCH:?linux-metainfo.sh needs SOURCE_DATE_EPOCH (the commit time)}"
command -v appstreamcli >/dev/null || { echo "linux-metainfo: appstreamcli is missing (tools/setup.sh release installs it)" >&2; exit 1; }

release_date=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
sed "s|^</component>|  <releases>\n    <release version=\"$version\" date=\"$release_date\"/>\n  </releases>\n</component>|" \
  "$root/res/linux/invalid.oskel.oskel_update.metainfo.xml" >"$out"
chmod 644 "$out"
if ! report=$(appstreamcli validate --no-net "$out" 2>&1); then
  printf '%s\n' "$report" >&2
  echo "linux-metainfo: the AppStream metadata does not pass appstreamcli validate" >&2
  exit 1
fi
