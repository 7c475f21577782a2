#!/usr/bin/env bash
# Makes the Linux program's tarball from a release build (tools/release.sh calls it), for every
# x86_64 Linux system, those without a package of ours and those whose /usr is read-only
# (SteamOS, Fedora's atomic systems) included:
#
#   tools/make-tarball.sh PROGRAM VERSION OUT-DIR
#
# writes OUT-DIR/oskel-update-<VERSION>-linux-x86_64.tar.gz, one folder of the same name with
# the program, the udev rules, the manual page, the AppStream metadata, INSTALL, install.sh and
# the licence (LICENSE).
# The same inputs and SOURCE_DATE_EPOCH give the same bytes: the files sorted, each with the
# commit's time, owned by root, and gzip without a name or time.
set -euo pipefail

program=${1:?usage: make-tarball.sh PROGRAM VERSION OUT-DIR}
version=${2:?usage: make-tarball.sh PROGRAM VERSION OUT-DIR}
out=${3:?usage: make-tarball.sh PROGRAM VERSION OUT-DIR}
root="$(cd "$(dirname "$0")/.." && pwd)"
: "${SOURCE_DATE_EPOCH:?make-tarball.sh needs SOURCE_DATE_EPOCH (the commit time)}"
die() { printf 'make-tarball: %s\n' "$*" >&2; exit 1; }
[[ -x $program ]] || die "no program at $program"

name=oskel-update-$version-linux-x86_64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/$name
mkdir -p "$stage"
install -m 755 "$program" "$stage/oskel-update"
install -m 755 "$root/res/linux/install.sh" "$stage/install.sh"
install -m 644 "$root/res/linux/70-oskel-update.rules" "$root/res/linux/oskel-update.1" "$root/res/linux/INSTALL" \
  "$root/LICENSE" "$stage/"
bash "$root/tools/linux-metainfo.sh" "$version" "$stage/invalid.oskel.oskel_update.metainfo.xml"
chmod 755 "$stage"

mkdir -p "$out"
tarball=$out/$name.tar.gz
tar -C "$work" --sort=name --format=gnu --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  -cf - "$name" | gzip -9n >"$tarball"
echo "$tarball"
