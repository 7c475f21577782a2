#!/usr/bin/env bash
# Two releases of the same commit, from two clones in two different folders, one after the other:
# the first unsigned, the second signed with a throwaway self-signed code-signing certificate.
#
# Checks that
#  - the two builds give byte-identical programs (the second's unsigned programs are kept in its
#    build folder), so the first's SHA256SUMS lists what the second printed as unsigned digests;
#  - no build path is in the programs, the PE time stamp is the commit's time, and the 32-bit
#    program is at most 600 KB, without debug sections or symbol table;
#  - the version of project() is in the file names and in the version resource;
#  - the unsigned release says so; the signed one prints the embedded images' digests, its
#    signatures verify (the chain untrusted, the signature intact), and signing changed no byte
#    of the program but the checksum and the certificate-table entry of the header; without the
#    signature each signed program is the first release's program again;
#  - both releases hold the same Linux tarball, .deb, .rpm and Arch package, byte for byte, each
#    with the same program (which passes tools/check-linux-program.sh); the Debian package with the
#    program, the udev rules with the postinst that applies them, the manual page and AppStream
#    metadata that validates, and lintian passed it;
#  - both releases hold the same fwupd cabinet of each mode, byte for byte, with the image the
#    programs embed and metainfo for this version (the VM's fwupd scenarios install them);
#  - the 64-bit release program runs under Wine (when the win64 build and its Wine prefix are
#    there; tools/test.sh builds them first).
#
# It tests the committed state: with uncommitted changes in the work tree it tests them as a
# `git stash create` commit (untracked files are left out), and says so.
#   tests/release/reproducible_signed.sh
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d /tmp/oskel-release-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
note() { echo "release test: $*"; }

commit="$(git -C "$source_dir" rev-parse HEAD)"
if [[ -n "$(git -C "$source_dir" status --porcelain --untracked-files=no)" ]]; then
  commit="$(git -C "$source_dir" -c user.name=release-test -c user.email=release-test@localhost stash create)"
  note "the work tree has uncommitted changes: testing them as stash commit ${commit:0:12} (untracked files left out)"
fi
clone() {
  git clone -q --no-checkout "$source_dir" "$1"
  git -C "$1" checkout -q --detach "$commit"
}
first="$work/a"
second="$work/second-clone/of/the/updater"
clone "$first"
clone "$second"
epoch="$(git -C "$first" log -1 --format=%ct)"
version="$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\)[ )].*/\1/p' "$first/CMakeLists.txt")"
names=("OskelUpdater-$version.exe" "OskelUpdater-$version-x64.exe")
package="oskel-update_${version}_amd64.deb"
cabinets=("oskel-controller-mode1-$version.cab" "oskel-controller-mode2-$version.cab" "oskel-controller-mode3-$version.cab")
tarball="oskel-update-$version-linux-x86_64.tar.gz"
rpm_package="oskel-update-$version-1.x86_64.rpm"
arch_package="oskel-update-$version-1-x86_64.pkg.tar.zst"
linux_files=("$tarball" "$package" "$rpm_package" "$arch_package")

# The throwaway certificate: self-signed, for code signing, valid two days.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Oskel release test" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/certificate.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/certificate.pem" \
  -out "$work/signing.p12" -passout pass:throwaway

note "release 1 (unsigned) in $first"
start=$SECONDS
(unset OSKEL_SIGN_PKCS12 SOURCE_DATE_EPOCH; bash "$first/tools/release.sh") >"$work/first.out" 2>&1 ||
  { cat "$work/first.out"; echo "FAIL: the first release failed" >&2; exit 1; }
note "release 1 took $((SECONDS - start)) s"
note "release 2 (signed) in $second"
start=$SECONDS
(unset SOURCE_DATE_EPOCH; OSKEL_SIGN_PKCS12="$work/signing.p12" OSKEL_SIGN_PASSWORD=throwaway \
  bash "$second/tools/release.sh") >"$work/second.out" 2>&1 ||
  { cat "$work/second.out"; echo "FAIL: the second release failed" >&2; exit 1; }
note "release 2 took $((SECONDS - start)) s"

# What each release wrote.
expected_listing="$(printf '%s\n' "${names[@]}" "${linux_files[@]}" "${cabinets[@]}" SHA256SUMS | sort)"
for dist in "$first/dist" "$second/dist"; do
  [[ "$(ls "$dist" | sort)" == "$expected_listing" ]] || fail "$dist holds $(ls "$dist" | tr '\n' ' ')"
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "$dist/SHA256SUMS does not match its files"
done
grep -q "UNSIGNED" "$work/first.out" || fail "the unsigned release does not say that it is unsigned"
grep -q "UNSIGNED" "$work/second.out" && fail "the signed release says that it is unsigned"
while read -r digest name; do
  [[ "$name" == \#* || -z "$name" ]] && continue
  grep -q "resource 10[678]: $digest  .*/res/firmware/$name$" "$work/second.out" ||
    fail "the release does not print the digest of $name as embedded"
done < <(grep -v '^#' "$first/res/firmware/SHA256SUMS")

# Reproducible: the second release built the same bytes in another folder, later.
built=("$second/build/release-win32/OskelUpdater.exe" "$second/build/release-win64/OskelUpdater.exe")
for i in 0 1; do
  cmp -s "$first/dist/${names[$i]}" "${built[$i]}" ||
    fail "${names[$i]}: the two clones built different bytes"
  digest="$(sha256sum <"${built[$i]}" | cut -d' ' -f1)"
  grep -q "^$digest  ${names[$i]}$" "$first/dist/SHA256SUMS" ||
    fail "${names[$i]}: the second build's digest is not in the first release's SHA256SUMS"
  grep -q "dist/${names[$i]} .* unsigned SHA-256 $digest$" "$work/second.out" ||
    fail "${names[$i]}: the signed release does not print the unsigned digest $digest"
done

# The Linux program's package: the same bytes from both clones (it is never signed), the files a
# user needs, the commit's time on every file, and lintian's approval.
cmp -s "$first/dist/$package" "$second/dist/$package" || fail "$package: the two clones built different bytes"
contents="$(TZ=UTC dpkg-deb -c "$first/dist/$package")"
metainfo=./usr/share/metainfo/invalid.oskel.oskel_update.metainfo.xml
for file in ./usr/bin/oskel-update ./lib/udev/rules.d/70-oskel-update.rules ./usr/share/man/man1/oskel-update.1.gz \
            ./usr/share/doc/oskel-update/copyright ./usr/share/doc/oskel-update/changelog.gz "$metainfo"; do
  grep -q " $file$" <<<"$contents" || fail "$package holds no $file"
done
# The rules apply at once: the postinst reloads and triggers udev. The AppStream metadata
# validates, with this release in it.
dpkg-deb --info "$first/dist/$package" postinst | grep -q 'udevadm trigger' || fail "$package: no postinst that triggers udev"
mkdir -p "$work/package"
dpkg-deb -x "$first/dist/$package" "$work/package"
appstreamcli validate --no-net "$work/package/$metainfo" >"$work/appstream.txt" 2>&1 ||
  fail "$package: the AppStream metadata does not validate: $(cat "$work/appstream.txt")"
grep -q "<release version=\"$version\"" "$work/package/$metainfo" || fail "$package: the AppStream metadata names no release $version"
[[ "$(awk '{print $4 " " $5}' <<<"$contents" | sort -u)" == "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M')" ]] ||
  fail "$package: not every file has the commit's time"
grep -q "dist/$package .*(lintian: no error, no warning)" "$work/first.out" || fail "$package: the release did not pass it through lintian"
dpkg-deb -f "$first/dist/$package" Depends | grep -q libudev1 || fail "$package: Depends does not name libudev1"
dpkg-deb -f "$first/dist/$package" Recommends | grep -q libusb-1.0-0 || fail "$package: Recommends does not name libusb-1.0-0"

# The tarball, the rpm and the Arch package: the same bytes from both clones, the same program as
# the .deb, each with the rules where its system reads them and the commit's time.
for name in "$tarball" "$rpm_package" "$arch_package"; do
  cmp -s "$first/dist/$name" "$second/dist/$name" || fail "$name: the two clones built different bytes"
done
mkdir -p "$work/tarball" "$work/rpm" "$work/arch"
tar -xzf "$first/dist/$tarball" -C "$work/tarball"
listing="$(cd "$work/tarball" && find . -type f | sort | tr '\n' ' ')"
top=./oskel-update-$version-linux-x86_64
[[ $listing == "$top/70-oskel-update.rules $top/INSTALL $top/LICENSE $top/install.sh $top/invalid.oskel.oskel_update.metainfo.xml $top/oskel-update $top/oskel-update.1 " ]] ||
  fail "$tarball holds $listing"
[[ "$(TZ=UTC tar -tvzf "$first/dist/$tarball" | awk '{print $4 " " $5}' | sort -u)" == "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M')" ]] ||
  fail "$tarball: not every file has the commit's time"
(cd "$work/rpm" && rpm2cpio "$first/dist/$rpm_package" | cpio -idm --quiet)
bsdtar -xf "$first/dist/$arch_package" -C "$work/arch"
for program in "$work/tarball/$top/oskel-update" "$work/rpm/usr/bin/oskel-update" "$work/arch/usr/bin/oskel-update"; do
  cmp -s "$work/package/usr/bin/oskel-update" "$program" || fail "$program is not the .deb's program"
done
[[ -f $work/rpm/usr/lib/udev/rules.d/70-oskel-update.rules ]] || fail "$rpm_package: no rules in /usr/lib/udev/rules.d"
rpm -qp --scripts "$first/dist/$rpm_package" | grep -q 'udevadm trigger' || fail "$rpm_package: no %post that triggers udev"
grep -q "dist/$rpm_package .*(rpmlint: 0 errors" "$work/first.out" || fail "$rpm_package: rpmlint did not pass it"
[[ -f $work/arch/usr/lib/udev/rules.d/70-oskel-update.rules ]] || fail "$arch_package: no rules in /usr/lib/udev/rules.d"
grep -q 'udevadm trigger' "$work/arch/.INSTALL" || fail "$arch_package: no .install that triggers udev"
grep -qx "builddate = $epoch" "$work/arch/.PKGINFO" || fail "$arch_package: not dated at the commit"
bash "$source_dir/tools/check-linux-program.sh" "$work/package/usr/bin/oskel-update" >/dev/null ||
  fail "the Linux program does not pass tools/check-linux-program.sh"
grep -a -q -F "$work" "$first/build/release-linux/oskel-update" && fail "oskel-update holds a build path ($work)"

# The cabinets: the same bytes from both clones, the mode's image and this version's metainfo.
for mode in 1 2 3; do
  cabinet=${cabinets[mode - 1]}
  cmp -s "$first/dist/$cabinet" "$second/dist/$cabinet" || fail "$cabinet: the two clones built different bytes"
  mkdir -p "$work/cabinet$mode"
  (cd "$work/cabinet$mode" && gcab --extract "$first/dist/$cabinet") || fail "$cabinet: gcab cannot read it"
  cmp -s "$work/cabinet$mode/firmware.bin" "$first/res/firmware/mode$mode.bin" || fail "$cabinet: firmware.bin is not mode $mode's image"
  grep -q "<release urgency=\"medium\" version=\"$version\"" "$work/cabinet$mode/firmware.metainfo.xml" ||
    fail "$cabinet: its metainfo names no release $version"
done

# The programs: no build path, the commit's time, no debug data, no symbols, the version.
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
for i in 0 1; do
  program="$first/dist/${names[$i]}"
  grep -a -q -F "$work" "$program" && fail "${names[$i]} holds a build path ($work)"
  grep -a -q -F "$work" "$second/dist/${names[$i]}" && fail "signed ${names[$i]} holds a build path"
  pe="$(u32 "$program" 60)"
  [[ "$(u32 "$program" $((pe + 8)))" == "$epoch" ]] ||
    fail "${names[$i]}: PE time stamp $(u32 "$program" $((pe + 8))), expected the commit time $epoch"
  [[ "$(u32 "$program" $((pe + 12)))" == 0 && "$(u32 "$program" $((pe + 16)))" == 0 ]] ||
    fail "${names[$i]}: the COFF header points at a symbol table"
  objdump=i686-w64-mingw32-objdump
  windres=i686-w64-mingw32-windres
  if [[ $i == 1 ]]; then objdump=x86_64-w64-mingw32-objdump; windres=x86_64-w64-mingw32-windres; fi
  "$objdump" -h "$program" | grep -q '\.debug' && fail "${names[$i]} has debug sections"
  "$windres" -i "$program" -O rc -o "$work/resources.rc" || fail "${names[$i]}: resources unreadable"
  parts=(${version//./ } 0 0 0)  # FILEVERSION has four numbers; project() may give fewer
  fileversion="${parts[0]}, ${parts[1]}, ${parts[2]}, ${parts[3]}"
  grep -q "^ *FILEVERSION $fileversion$" "$work/resources.rc" ||
    fail "${names[$i]}: FILEVERSION is not $fileversion"
  grep -q "VALUE \"ProductVersion\", \"$version\"" "$work/resources.rc" ||
    fail "${names[$i]}: ProductVersion is not \"$version\""
done
size32="$(stat -c %s "$first/dist/${names[0]}")"
limit=$((600 * 1000))  # "at most 600 KB", read as 600,000 bytes
((size32 <= limit)) || fail "${names[0]} has $size32 bytes, more than $limit"
note "${names[0]}: $size32 bytes; ${names[1]}: $(stat -c %s "$first/dist/${names[1]}") bytes"

# Signed: the chain is untrusted (self-signed), the signature intact, nothing else changed.
for i in 0 1; do
  unsigned="$first/dist/${names[$i]}"
  signed="$second/dist/${names[$i]}"
  grep -q "sign: .*${names[$i]}: signature intact; certificate chain not trusted here" "$work/second.out" ||
    fail "${names[$i]}: the release did not report its signature as intact and untrusted"
  if osslsigncode verify -in "$signed" >"$work/verify.out" 2>&1; then
    fail "${names[$i]}: a self-signed chain verified as trusted"
  fi
  grep -q "self.signed certificate" "$work/verify.out" || fail "${names[$i]}: verify did not fail on the self-signed chain"
  current="$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.out")"
  calculated="$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.out")"
  [[ -n "$current" && "$current" == "$calculated" ]] ||
    fail "${names[$i]}: the signed digest ($current) is not that of the file ($calculated)"
  osslsigncode verify -CAfile "$work/certificate.pem" -in "$signed" >"$work/verify.out" 2>&1 ||
    { cat "$work/verify.out"; fail "${names[$i]}: the signature does not verify against its own certificate"; }
  grep -q "Signer's certificate:" "$work/verify.out" && grep -q "Subject: /CN=Oskel release test" "$work/verify.out" ||
    fail "${names[$i]}: not signed by the test certificate"

  # The bytes signing may change: the checksum and the certificate-table entry of the header.
  pe="$(u32 "$unsigned" 60)"
  optional=$((pe + 24))
  directories=$((optional + 96))                                   # PE32
  [[ "$(u16 "$unsigned" $optional)" == 523 ]] && directories=$((optional + 112))  # PE32+ (0x20b)
  checksum=$((optional + 64))
  certificate_entry=$((directories + 4 * 8))                       # data directory 4, 8 bytes
  unsigned_size="$(stat -c %s "$unsigned")"
  (($(stat -c %s "$signed") > unsigned_size)) || fail "${names[$i]}: the signed program is not longer"
  while read -r offset _; do
    position=$((offset - 1))  # cmp counts from 1
    if ! ((position >= checksum && position < checksum + 4)) &&
       ! ((position >= certificate_entry && position < certificate_entry + 8)); then
      fail "${names[$i]}: signing changed byte $position"
      break
    fi
  done < <(cmp -l "$unsigned" "$signed" 2>/dev/null)
  rm -f "$work/removed.exe"  # osslsigncode does not overwrite
  osslsigncode remove-signature -in "$signed" -out "$work/removed.exe" >/dev/null 2>&1 ||
    fail "${names[$i]}: the signature cannot be removed"
  cmp -s "$work/removed.exe" "$unsigned" ||
    fail "${names[$i]}: without its signature the signed program differs from the reproducible build"
done

# The shipped configuration runs: the first release's 64-bit program under Wine (the 32-bit one
# cannot run on every build machine), with the driver and the Wine prefix of the win64 build,
# which tools/test.sh builds before this test. "resources" also compares the embedded images
# with their files.
driver="$source_dir/build/win64/oskel_wine_driver.exe"
prefix="$source_dir/build/win64/wineprefix"
if [[ -f "$driver" && -f "$prefix/.oskel-ready" ]]; then
  for scenario in resources no-device; do
    mkdir -p "$work/wine-$scenario"
    if ! timeout 240 bash "$source_dir/tools/wine-env.sh" "$prefix" run "$driver" "$scenario" \
        --updater "$first/dist/${names[1]}" --sim "$first/dist/${names[1]}" \
        --image1 "$first/res/firmware/mode1.bin" --image2 "$first/res/firmware/mode2.bin" \
        --image3 "$first/res/firmware/mode3.bin" --work "$work/wine-$scenario" >"$work/wine-$scenario.out" 2>&1; then
      cat "$work/wine-$scenario.out"
      fail "${names[1]} under Wine: scenario $scenario failed"
    fi
  done
  note "${names[1]} passed the Wine scenarios resources and no-device"
else
  note "SKIPPED: ${names[1]} under Wine (no win64 build with a Wine prefix here: run ctest --preset win64 first)"
fi

if ((failures > 0)); then
  echo "--- release 1"; cat "$work/first.out"; echo "--- release 2"; cat "$work/second.out"
  echo "release test: $failures failure(s)" >&2
  exit 1
fi
note "ok: two clones, same bytes; signed and verified; signing changed only the signature"
