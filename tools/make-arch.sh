#!/usr/bin/env bash
# Makes the Linux program's Arch Linux package from its tarball (tools/release.sh calls it), with
# makepkg from Debian's makepkg package, run as an unprivileged user, and res/linux/arch/'s
# PKGBUILD and oskel-update.install:
#
#   tools/make-arch.sh TARBALL VERSION OUT-DIR
#
# writes OUT-DIR/oskel-update-<VERSION>-1-x86_64.pkg.tar.zst and prints its path. The same
# tarball and SOURCE_DATE_EPOCH give the same bytes (makepkg dates the package and its files at
# SOURCE_DATE_EPOCH; the build folder's name is fixed).
# Debian has no pacman, so the dependencies are not checked here.
set -euo pipefail

tarball=${1:?usage: make-arch.sh TARBALL VERSION OUT-DIR}
version=${2:?usage: make-arch.sh TARBALL VERSION OUT-DIR}
out=${3:?usage: make-arch.sh TARBALL VERSION OUT-DIR}
root="$(cd "$(dirname "$0")/.." && pwd)"
: "${SOURCE_DATE_EPOCH:?make-arch.sh needs SOURCE_DATE_EPOCH (the commit time)}"
die() { printf 'make-arch: %s\n' "$*" >&2; exit 1; }
[[ -f $tarball ]] || die "no tarball at $tarball"
for tool in makepkg bsdtar fakeroot zstd; do
  command -v "$tool" >/dev/null || die "$tool is missing (tools/setup.sh release installs it)"
done

# .BUILDINFO names the build's folders: they are always the same one, and one build at a time
# uses it.
work=/tmp/oskel-update-makepkg
exec 9>"$work.lock"
flock 9
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pkgbuild" "$work/out"
cp "$tarball" "$work/pkgbuild/"
sed -e "s/@VERSION@/$version/g" -e "s/@TARBALL_SHA256@/$(sha256sum <"$tarball" | cut -d' ' -f1)/" \
  "$root/res/linux/arch/PKGBUILD" >"$work/pkgbuild/PKGBUILD"
cp "$root/res/linux/arch/oskel-update.install" "$work/pkgbuild/"
# makepkg's settings as Arch's own, without the build machine's (Debian's makepkg.conf names a
# Debian CHOST and gzip'ed packages).
cat >"$work/makepkg.conf" <<'CONF'
CARCH="x86_64"
CHOST="x86_64-pc-linux-gnu"
BUILDENV=(!distcc !color !ccache check !sign)
OPTIONS=(strip docs !libtool !staticlibs emptydirs zipman purge !debug !lto)
INTEGRITY_CHECK=(sha256)
MAN_DIRS=({usr{,/local}{,/share},opt/*}/{man,info})
DOC_DIRS=(usr/{,local/}{,share/}{doc,gtk-doc} opt/*/{doc,gtk-doc})
PURGE_TARGETS=(usr/{,share}/info/dir .packlist *.pod)
COMPRESSGZ=(gzip -c -f -n)
COMPRESSZST=(zstd -c -z -q -19 -)
PKGEXT='.pkg.tar.zst'
SRCEXT='.src.tar.gz'
PACKAGER="Oskel updater developers <updater@oskel.invalid>"
CONF

# No pacman here: its queries (which packages the build had) answer nothing. makepkg refuses to
# run as root: as root, it runs as nobody.
as_builder=()
if [[ $(id -u) == 0 ]]; then
  chown -R nobody "$work"
  as_builder=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
if ! (cd "$work/pkgbuild" && "${as_builder[@]}" env -i PATH=/usr/bin:/bin HOME="$work" LC_ALL=C PACMAN=true \
      SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" BUILDDIR="$work/build" PKGDEST="$work/out" SRCDEST="$work/pkgbuild" \
      makepkg --config "$work/makepkg.conf" --nodeps --noconfirm --force) >"$work/makepkg.log" 2>&1; then
  cat "$work/makepkg.log" >&2
  die "makepkg failed"
fi
built=$(find "$work/out" -name "oskel-update-$version-1-x86_64.pkg.tar.zst" | head -n 1)
[[ -n $built ]] || { cat "$work/makepkg.log" >&2; die "makepkg made no package"; }
mkdir -p "$out"
cp "$built" "$out/"
echo "$out/$(basename "$built")"
