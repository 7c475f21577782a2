#!/usr/bin/env bash
# Makes the Linux program's rpm from its tarball (tools/release.sh calls it), with rpmbuild from
# Debian's rpm package and the recipe res/linux/rpm/oskel-update.spec (the name rpmbuild and packagers look for):
#
#   tools/make-rpm.sh TARBALL VERSION OUT-DIR
#
# writes OUT-DIR/oskel-update-<VERSION>-1.x86_64.rpm and prints its path. The same tarball and
# SOURCE_DATE_EPOCH give the same bytes: the build time and every file's time are the commit's,
# and the build host is named "reproducible".
set -euo pipefail

tarball=${1:?usage: make-rpm.sh TARBALL VERSION OUT-DIR}
version=${2:?usage: make-rpm.sh TARBALL VERSION OUT-DIR}
out=${3:?usage: make-rpm.sh TARBALL VERSION OUT-DIR}
root="$(cd "$(dirname "$0")/.." && pwd)"
: "${SOURCE_DATE_EPOCH:?make-rpm.sh needs SOURCE_DATE_EPOCH (the commit time)}"
die() { printf 'make-rpm: %s\n' "$*" >&2; exit 1; }
[[ -f $tarball ]] || die "no tarball at $tarball"
command -v rpmbuild >/dev/null || die "rpmbuild is missing (tools/setup.sh release installs rpm)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{SOURCES,SPECS,BUILD,RPMS,SRPMS,BUILDROOT}
cp "$tarball" "$work/SOURCES/"
changelog_date=$(LC_ALL=C date -u -d "@$SOURCE_DATE_EPOCH" '+%a %b %d %Y')
sed -e "s/@VERSION@/$version/g" -e "s/@CHANGELOG_DATE@/$changelog_date/g" \
  "$root/res/linux/rpm/oskel-update.spec" >"$work/SPECS/oskel-update.spec"

# HOME: no ~/.rpmmacros of the caller's changes the package.
if ! HOME=$work rpmbuild -bb --quiet \
    --define "_topdir $work" \
    --define "_buildhost reproducible" \
    --define "use_source_date_epoch_as_buildtime 1" \
    --define "clamp_mtime_to_source_date_epoch 1" \
    --define "_build_id_links none" \
    --define "_binary_payload w9.xzdio" \
    --target x86_64-linux \
    "$work/SPECS/oskel-update.spec" >"$work/rpmbuild.log" 2>&1; then
  cat "$work/rpmbuild.log" >&2
  die "rpmbuild failed"
fi
built=$(find "$work/RPMS" -name "oskel-update-$version-1.*.rpm" | head -n 1)
[[ -n $built ]] || { cat "$work/rpmbuild.log" >&2; die "rpmbuild made no package"; }
mkdir -p "$out"
cp "$built" "$out/"
echo "$out/$(basename "$built")"
