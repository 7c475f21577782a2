#!/usr/bin/env bash
# Builds a release into dist/: the 32-bit program that users run, the 64-bit one beside it, the
# Linux program in a tarball and three packages, a fwupd cabinet of each mode's image, and their
# SHA256SUMS, named after the version in project() (CMakeLists.txt):
#
#   dist/OskelUpdater-<version>.exe                    32-bit (release-win32 preset)
#   dist/OskelUpdater-<version>-x64.exe                64-bit (release-win64 preset)
#   dist/oskel-update-<version>-linux-x86_64.tar.gz    the Linux program (release-linux preset) with
#                                                      install.sh, for every system (tools/make-tarball.sh)
#   dist/oskel-update_<version>_amd64.deb              Debian, Ubuntu (tools/make-deb.sh)
#   dist/oskel-update-<version>-1.x86_64.rpm           Fedora, Bazzite, Silverblue (tools/make-rpm.sh)
#   dist/oskel-update-<version>-1-x86_64.pkg.tar.zst   Arch (tools/make-arch.sh)
#   dist/oskel-controller-mode<N>-<version>.cab        mode N's image, as the programs embed it, for
#                                                      fwupd (tools/make-cab.sh, fwupd/oskel-controller/)
#   dist/SHA256SUMS
#
# The programs are stripped, built for size and reproducible: the same commit gives the same
# bytes in any folder at any time (the PE time stamp and the packages' file times are the
# commit's time, or SOURCE_DATE_EPOCH when it is set). The four Linux files carry the same
# program, which must pass tools/check-linux-program.sh (its libraries, its glibc floor); lintian
# must find no error or warning in the .deb, and rpmlint no error in the .rpm.
#
#   tools/release.sh [-DOSKEL_IMAGE_MODE<n>=FILE -DOSKEL_IMAGE_MODE<n>_SHA256=HEX ...]
#
# Arguments go to both configurations: a release with other firmware images names the files and
# their digests (cmake/images.cmake). Each release configures afresh, so every image argument
# must be given again each time.
#
# Signing (Authenticode, osslsigncode), when a certificate is given:
#   OSKEL_SIGN_PKCS12=FILE          the certificate and its private key (PKCS#12, .p12 or .pfx)
#   OSKEL_SIGN_PASSWORD=TEXT        its password
#   OSKEL_SIGN_TIMESTAMP_URL=URL    a time-stamp server (RFC 3161); none when unset
# Without OSKEL_SIGN_PKCS12 the release is unsigned and says so.
set -euo pipefail

# Image paths given relative to the caller's folder, before this script moves to the root.
arguments=()
for argument in "$@"; do
  if [[ "$argument" =~ ^(-DOSKEL_IMAGE_MODE[123](:FILEPATH)?=)(.+)$ && "${BASH_REMATCH[3]}" != /* ]]; then
    argument="${BASH_REMATCH[1]}$PWD/${BASH_REMATCH[3]}"
  fi
  arguments+=("$argument")
done
if [[ -n "${OSKEL_SIGN_PKCS12:-}" && "$OSKEL_SIGN_PKCS12" != /* ]]; then
  OSKEL_SIGN_PKCS12="$PWD/$OSKEL_SIGN_PKCS12"
fi

cd "$(dirname "$0")/.."
bash tools/setup.sh release

say() { printf 'release: %s\n' "$*"; }
die() { printf 'release: %s\n' "$*" >&2; exit 1; }

if [[ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]]; then
  say "warning: the work tree has uncommitted changes; this release is not that of commit $(git rev-parse --short HEAD)"
fi
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || true)"
fi
[[ "${SOURCE_DATE_EPOCH:-}" =~ ^[0-9]+$ ]] || die "no commit time: run from a git clone or set SOURCE_DATE_EPOCH"
export SOURCE_DATE_EPOCH

# dist/ is put together in build/dist-staging and appears only when complete: a release that
# fails leaves no dist/ behind.
staging=build/dist-staging
rm -rf dist "$staging"

build() {
  local preset=$1 log="build/$1.log"
  mkdir -p build
  say "building $preset"
  if ! { cmake --preset "$preset" --fresh "${arguments[@]}" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
    grep -A 6 -E 'CMake Error|error:' "$log" | head -n 40 >&2 || true
    die "$preset failed (whole log: $log)"
  fi
}
build release-win32
build release-win64
build release-linux
for preset in release-win32 release-win64; do bash tools/check-imports.sh "build/$preset/OskelUpdater.exe" >/dev/null; done

version="$(sed -n 's/^#define OSKEL_VERSION_TEXT "\(.*\)"$/\1/p' build/release-win32/generated/oskel_version.h)"
[[ -n "$version" ]] || die "no version in build/release-win32/generated/oskel_version.h"
for other in release-win64 release-linux; do
  cmp -s build/release-win32/firmware-images.sha256 "build/$other/firmware-images.sha256" ||
    die "the builds release-win32 and $other embedded different images"
done

mkdir -p "$staging"
program32="OskelUpdater-$version.exe"
program64="OskelUpdater-$version-x64.exe"
declare -A built=(
  ["$program32"]=build/release-win32/OskelUpdater.exe
  ["$program64"]=build/release-win64/OskelUpdater.exe
)

if [[ -n "${OSKEL_SIGN_PKCS12:-}" ]]; then
  [[ -r "$OSKEL_SIGN_PKCS12" ]] || die "cannot read the certificate OSKEL_SIGN_PKCS12=$OSKEL_SIGN_PKCS12"
  for name in "$program32" "$program64"; do
    bash tools/sign.sh "${built[$name]}" "$staging/$name"
  done
  signed="signed with $(basename "$OSKEL_SIGN_PKCS12")"
else
  for name in "$program32" "$program64"; do cp "${built[$name]}" "$staging/$name"; done
  signed="UNSIGNED (no OSKEL_SIGN_PKCS12 given)"
fi
linux_program=build/release-linux/oskel-update
bash tools/check-linux-program.sh "$linux_program" >build/release-linux/check-linux-program.txt ||
  die "the Linux program does not run on every system of its floor (tools/check-linux-program.sh)"
tarball="$(bash tools/make-tarball.sh "$linux_program" "$version" "$staging")"
deb="$(bash tools/make-deb.sh "$linux_program" "$version" "$staging")"
rpm="$(bash tools/make-rpm.sh "$tarball" "$version" "$staging")"
arch_package="$(bash tools/make-arch.sh "$tarball" "$version" "$staging")"
lintian_out="build/release-linux/lintian.txt"
lintian --fail-on error,warning "$deb" >"$lintian_out" 2>&1 || { cat "$lintian_out" >&2; die "lintian found faults in $(basename "$deb")"; }
rpmlint_out="build/release-linux/rpmlint.txt"
rpmlint -c res/linux/rpm/rpmlint.toml "$rpm" >"$rpmlint_out" 2>&1 || { cat "$rpmlint_out" >&2; die "rpmlint found errors in $(basename "$rpm")"; }
linux_files=()
for file in "$tarball" "$deb" "$rpm" "$arch_package"; do linux_files+=("$(basename "$file")"); done
# The cabinets carry the images the programs embedded (firmware-images.sha256: "# mode N, ..."
# above "DIGEST  PATH"): the project's own test images under its licence, a maker's as its own.
cabinets=()
for mode in 1 2 3; do
  line=$(awk -v mode="# mode $mode," 'index($0, mode) == 1 { getline; print; exit }' build/release-win32/firmware-images.sha256)
  digest=${line%%  *}
  image=${line#*  }
  [[ -f $image ]] || die "no image of mode $mode in build/release-win32/firmware-images.sha256"
  license=LicenseRef-proprietary
  grep -q "^$digest  " res/firmware/SHA256SUMS && license=MIT
  cabinet=$(bash tools/make-cab.sh "$mode" "$image" "$version" "$staging" "$license")
  cabinets+=("$(basename "$cabinet")")
done
(cd "$staging" && sha256sum "$program32" "$program64" "${linux_files[@]}" "${cabinets[@]}" >SHA256SUMS)
mv "$staging" dist

say "version $version, commit $(git rev-parse --short HEAD 2>/dev/null || echo '?'), PE time stamp $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')"
say "firmware images embedded (mode, resource, SHA-256, file):"
# firmware-images.sha256 (cmake/images.cmake): "# mode N, resource R: ..." above "DIGEST  PATH".
awk '/^# mode/ { mode = $3; resource = $5; sub(/,$/, "", mode); sub(/:$/, "", resource); next }
     { print "  mode " mode ", resource " resource ": " $1 "  " substr($0, length($1) + 3) }' \
  build/release-win32/firmware-images.sha256
say "the programs are $signed"
for name in "$program32" "$program64"; do
  say "  dist/$name  $(stat -c %s "dist/$name") bytes  unsigned SHA-256 $(sha256sum <"${built[$name]}" | cut -d' ' -f1)"
done
say "the Linux program: $(tr '\n' ';' <build/release-linux/check-linux-program.txt | sed 's/;$//; s/;/; /')"
for name in "${linux_files[@]}"; do
  case $name in
  *.deb) checked="(lintian: no error, no warning)" ;;
  *.rpm) checked="(rpmlint: $(grep -oE '[0-9]+ errors, [0-9]+ warnings' "$rpmlint_out"))" ;;
  *) checked= ;;
  esac
  say "  dist/$name  $(stat -c %s "dist/$name") bytes  $checked"
done
for cabinet in "${cabinets[@]}"; do say "  dist/$cabinet  $(stat -c %s "dist/$cabinet") bytes  (fwupd cabinet)"; done
say "dist/SHA256SUMS:"
sed 's/^/  /' dist/SHA256SUMS
