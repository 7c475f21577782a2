#!/usr/bin/env bash
# Makes the Debian package of the Linux program from a release build (tools/release.sh calls it):
#
#   tools/make-deb.sh PROGRAM VERSION OUT-DIR
#
# writes OUT-DIR/oskel-update_<VERSION>_<arch>.deb with the program, the udev rules, the manual
# page, the AppStream metadata (the controllers it serves, and this release; checked with
# appstreamcli validate), the copyright file and the changelog, the postinst that applies the
# rules to the controllers plugged in already, and Depends as dpkg-shlibdeps finds them. The
# same inputs and SOURCE_DATE_EPOCH give the same bytes: every file's time is that of the commit,
# the owner root, compressed files carry no name or time, and the archive is sorted.
set -euo pipefail

program=${1:?usage: make-deb.sh PROGRAM VERSION OUT-DIR}
version=${2:?usage: make-deb.sh PROGRAM VERSION OUT-DIR}
out=${3:?usage: make-deb.sh PROGRAM VERSION OUT-DIR}
root="$(cd "$(dirname "$0")/.." && pwd)"
: "${SOURCE_DATE_EPOCH:?make-deb.sh needs SOURCE_DATE_EPOCH (the commit time)}"

die() { printf 'make-deb: %s\n' "$*" >&2; exit 1; }
[[ -x $program ]] || die "no program at $program"
for tool in dpkg-deb dpkg-shlibdeps dpkg-architecture gzip appstreamcli; do
  command -v "$tool" >/dev/null || die "$tool is missing (tools/setup.sh release installs it)"
done

package=oskel-update
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
doc=$stage/usr/share/doc/$package
mkdir -p "$stage/DEBIAN" "$stage/usr/bin" "$stage/lib/udev/rules.d" "$stage/usr/share/man/man1" \
  "$stage/usr/share/metainfo" "$doc"

install -m 755 "$program" "$stage/usr/bin/$package"
install -m 644 "$root/res/linux/70-oskel-update.rules" "$stage/lib/udev/rules.d/"
metainfo=invalid.oskel.oskel_update.metainfo.xml
bash "$root/tools/linux-metainfo.sh" "$version" "$stage/usr/share/metainfo/$metainfo" ||
  die "the AppStream metadata does not pass appstreamcli validate"
install -m 755 "$root/res/linux/postinst" "$stage/DEBIAN/postinst"
gzip -9nc "$root/res/linux/oskel-update.1" >"$stage/usr/share/man/man1/$package.1.gz"
install -m 644 "$root/res/linux/copyright" "$doc/copyright"

# A native package's changelog: one entry for this version, dated at the commit.
{
  printf '%s (%s) stable; urgency=medium\n\n' "$package" "$version"
  printf '  * Release %s of the controller updater for Linux.\n\n' "$version"
  printf ' -- Oskel updater developers <updater@oskel.invalid>  %s\n' \
    "$(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"

# Depends: the libraries the program links against, with the versions their symbols need; it
# loads libsystemd (or libelogind) and libusb when they are there, which Recommends names.
mkdir -p "$work/shlibs/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$package" "$package" >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$stage/usr/bin/$package" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || die "dpkg-shlibdeps found no dependencies of $program"

installed_kb=$(du -k -s --apparent-size "$stage" | cut -f1)
cat >"$stage/DEBIAN/control" <<EOF
Package: $package
Version: $version
Architecture: $arch
Maintainer: Oskel updater developers <updater@oskel.invalid>
Installed-Size: $installed_kb
Depends: $depends
Recommends: libsystemd0 | libelogind0, libusb-1.0-0
Section: utils
Priority: optional
Description: firmware updater for USB game controllers in their update mode
 oskel-update sends a USB game controller that sits in one of its three
 update modes (2563:0059, 2563:1818, 0461:4d81) the firmware image that the
 program carries for that mode, over hidraw and, for mode 1, the USB control
 endpoint. It updates a controller that is in update mode now, or with --wait
 each one that is plugged in.
 .
 The udev rules let the user logged in at the seat open what the program
 writes, so that no root rights are needed; they apply at once to the
 controllers plugged in already.
EOF
(cd "$stage" && find usr lib -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"

find "$stage" -type d -exec chmod 755 {} +
chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$out"
deb="$out/${package}_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
