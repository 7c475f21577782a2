#!/usr/bin/env bash
# Installs, with apt, whatever the build and the tests need and this machine lacks.
# Safe to run again: it installs nothing when everything is there.
#   tools/setup.sh [all]     everything: every preset and every test (tools/test.sh)
#   tools/setup.sh host      the host build alone (tools/simulate.sh)
#   tools/setup.sh linux     the Linux program oskel-update (preset "linux")
#   tools/setup.sh release   the Windows release builds and their signing (tools/release.sh)
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev tshark jq  # host build and tests (tshark reads exported captures, jq the JSON verdicts)
  pkg-config libudev-dev libsystemd-dev libusb-1.0-0-dev  # the Linux program: hidraw through udev,
                                                         # logind through sd-bus, USB through libusb
  clang libclang-rt-14-dev               # fuzzers (libFuzzer) and sanitizers
  osslsigncode openssl git               # release: signing, the reproducible-build test
  dpkg-dev lintian appstream             # release: the Linux program's Debian package
  rpm rpmlint makepkg libarchive-tools fakeroot zstd  # release: its rpm (rpmbuild) and Arch package (makepkg, bsdtar)
  gcab                                   # release: the fwupd cabinets (fwupd's own build
                                         # dependencies: tools/build-fwupd.sh)
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth                     # the Windows program under Wine, with a display
  qemu-system-x86 linux-image-amd64 busybox-static udev cpio  # the Linux program in a virtual machine
  dbus-daemon                            # ... with a system bus for elogind and the stand-ins for logind,
                                         # polkit and the desktop portal
)

# The parts that need less than everything.
host_packages=(cmake make g++ libgtest-dev tshark jq)
linux_packages=(cmake make g++ pkg-config libudev-dev libsystemd-dev libusb-1.0-0-dev appstream)
release_packages=(cmake make git osslsigncode openssl
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  g++ pkg-config libudev-dev libsystemd-dev libusb-1.0-0-dev dpkg-dev lintian appstream gcab
  rpm rpmlint makepkg libarchive-tools fakeroot zstd)
case "${1:-all}" in
  all) ;;
  host) packages=("${host_packages[@]}") ;;
  linux) packages=("${linux_packages[@]}") ;;
  release) packages=("${release_packages[@]}") ;;
  *) echo "usage: $0 [all|host|linux|release]" >&2; exit 2 ;;
esac

# The 32-bit Windows program runs under Wine's 32-bit part, which only a kernel that runs 32-bit
# programs can use: unpack it (tools/wine32.sh, which says why it takes no wine32:i386) only
# there, and only for every test. It needs the i386 architecture's indexes.
wine32=false
if [[ "${1:-all}" == all ]] && bash "$(dirname "$0")/i386-runs.sh" >/dev/null; then
  wine32=true
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    if [[ $(id -u) -ne 0 ]]; then sudo dpkg --add-architecture i386; else dpkg --add-architecture i386; fi
  fi
fi

sudo_if_needed=()
if [[ $(id -u) -ne 0 ]]; then sudo_if_needed=(sudo); fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "setup: installing ${missing[*]}"
  # A mirror in the middle of a sync serves an index that does not match its release file, and
  # apt-get update then fails for that one index; a later try usually finds it whole. After the
  # last try the install goes ahead with the indexes there are: it fails only if a package it
  # needs is really missing.
  for attempt in 1 2 3; do
    if "${sudo_if_needed[@]}" apt-get update -qq; then break; fi
    echo "setup: apt-get update failed (attempt $attempt of 3)" >&2
    if ((attempt < 3)); then sleep $((attempt * 20)); fi
  done
  # Another developer's apt may hold the dpkg lock: wait for it rather than fail.
  DEBIAN_FRONTEND=noninteractive "${sudo_if_needed[@]}" apt-get -o DPkg::Lock::Timeout=600 \
    install -y -qq "${missing[@]}"
fi

# Without Wine's 32-bit part the 32-bit Wine runs report themselves skipped, with the reason.
if $wine32 && ! "${sudo_if_needed[@]}" bash "$(dirname "$0")/wine32.sh" install; then
  echo "setup: no 32-bit Wine: $(bash "$(dirname "$0")/wine32.sh" where)" >&2
fi

# The test machine's login manager (tests/linux/vm/make_initramfs.sh copies it into the guest):
# Debian's elogind, its files taken from the packages without installing them, so that this
# machine keeps its own login manager.
guest_elogind=/var/cache/oskel-rig/elogind
if [[ "${1:-all}" == all && ! -x $guest_elogind/lib/elogind/elogind ]]; then
  debs=$(mktemp -d)
  echo "setup: taking elogind's files for the test machine into $guest_elogind"
  if (cd "$debs" && apt-get download -qq elogind libelogind0); then
    "${sudo_if_needed[@]}" mkdir -p "$guest_elogind.new"
    for deb in "$debs"/*.deb; do "${sudo_if_needed[@]}" dpkg-deb -x "$deb" "$guest_elogind.new"; done
    "${sudo_if_needed[@]}" rm -rf "$guest_elogind"
    "${sudo_if_needed[@]}" mv "$guest_elogind.new" "$guest_elogind"
  else
    echo "setup: elogind's packages cannot be had now: the VM's sleep scenarios report themselves skipped" >&2
  fi
  rm -rf "$debs"
fi
