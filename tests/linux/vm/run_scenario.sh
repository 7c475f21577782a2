#!/usr/bin/env bash
# One scenario of the controllers behind the Linux kernel's HID stack (test rig only):
#
#   run_scenario.sh --rig-bin DIR --updater FILE --sim FILE --compare FILE --work DIR --image1 F --image2 F --image3 F
#                   [--fwupdtool FILE] WHAT
#
# WHAT "initramfs" makes the test machine's initramfs (make_initramfs.sh) in the work folder,
# with the program under test when it exists; "fwupd-initramfs" makes the one of fwupd's
# scenarios, with fwupdtool (--fwupdtool, "-" for none) instead of the program under test, and a
# scenario named fwupd-* boots with it; any other WHAT is a scenario of scenarios.sh: the
# machine boots Debian's packaged kernel with that initramfs (software emulation, no KVM), runs
# the scenario, and the results it sends through qemu's debug console land in WORK/WHAT/out/;
# expectations.sh then checks them. Exit status: 0 passed, 1 failed, 77 skipped (the program under test does not
# exist, or fwupdtool for fwupd's; the reason is printed).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

while [[ $# -gt 1 ]]; do
  case $1 in
  --rig-bin) rig_bin=$2 ;;
  --updater) updater=$2 ;;
  --sim) sim=$2 ;;  # oskel-sim, which checks the captures against the models
  --compare) compare=$2 ;;  # oskel-capture-compare: the program's capture against usbmon's
  --work) work=$2 ;;
  --image1) image1=$2 ;;
  --image2) image2=$2 ;;
  --image3) image3=$2 ;;
  --fwupdtool) fwupdtool=$2 ;;  # fwupd's scenarios: fwupdtool with the project's plugin
  *) echo "run_scenario: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
what=${1:?run_scenario: no scenario}
skipped=77
fwupdtool=${fwupdtool:--}
# A whole boot, scenario and power-off; a scenario that takes longer has hung. The measurement
# runs nine downloads of each kind at the bus's pace.
boot_limit_s=${OSKEL_RIG_BOOT_LIMIT:-170}
[[ $what == measure ]] && boot_limit_s=600
# fwupd's scenarios start fwupdtool three times, each loading its plugins and quirks.
[[ $what == fwupd-* ]] && boot_limit_s=300

# Debian's packaged kernel (linux-image-amd64): the newest /boot/vmlinuz-* whose modules hold
# uhid and USB/IP's virtual host controller. The build machine may run another kernel, so it is
# taken by its files, not uname -r.
packaged_kernel() {
  local image version
  for image in $(ls /boot/vmlinuz-* 2>/dev/null | sort -V -r); do
    version=${image#/boot/vmlinuz-}
    if ls "/lib/modules/$version/kernel/drivers/hid/uhid.ko"* "/lib/modules/$version/kernel/drivers/usb/usbip/vhci-hcd.ko"* >/dev/null 2>&1; then
      echo "$version"
      return 0
    fi
  done
  return 1
}

need() {
  if ! command -v "$1" >/dev/null; then
    echo "run_scenario: $1 is missing (tools/setup.sh installs it)" >&2
    exit 1
  fi
}

mkdir -p "$work"
initramfs=$work/initramfs.cpio.gz
initramfs_txt=$work/initramfs.txt
if [[ $what == fwupd-initramfs ]]; then
  if [[ ! -x $fwupdtool ]]; then
    echo "skipped: fwupdtool is not built (OSKEL_FWUPDTOOL=$fwupdtool; tools/build-fwupd.sh builds it)"
    exit $skipped
  fi
  for tool in qemu-system-x86_64 busybox cpio udevadm gzip strip gcab; do need "$tool"; done
  kernel=$(packaged_kernel) || { echo "run_scenario: no packaged kernel with uhid and vhci-hcd in /boot" >&2; exit 1; }
  initramfs=$work/fwupd-initramfs.cpio.gz
  bash "$here/make_initramfs.sh" "$initramfs.new" "$kernel" "$rig_bin" - "$image1" "$image2" "$image3" "$fwupdtool"
  mv "$initramfs.new" "$initramfs"
  printf 'kernel=%s\nfwupdtool=%s\n' "$kernel" "$fwupdtool" >"$work/fwupd-initramfs.txt"
  echo "fwupd-initramfs: kernel $kernel, fwupdtool $fwupdtool, $(stat -c %s "$initramfs") bytes"
  exit 0
fi
if [[ $what == fwupd-* ]]; then
  initramfs=$work/fwupd-initramfs.cpio.gz
  initramfs_txt=$work/fwupd-initramfs.txt
  if [[ ! -x $fwupdtool ]] || ! grep -qx "fwupdtool=$fwupdtool" "$initramfs_txt" 2>/dev/null; then
    echo "skipped: fwupdtool is not built (OSKEL_FWUPDTOOL=$fwupdtool; tools/build-fwupd.sh builds it)"
    exit $skipped
  fi
fi
if [[ $what == initramfs ]]; then
  for tool in qemu-system-x86_64 busybox cpio udevadm gzip strip; do need "$tool"; done
  kernel=$(packaged_kernel) || { echo "run_scenario: no packaged kernel with uhid and vhci-hcd in /boot (linux-image-amd64; tools/setup.sh installs it)" >&2; exit 1; }
  with=-
  [[ -x $updater ]] && with=$updater
  bash "$here/make_initramfs.sh" "$initramfs.new" "$kernel" "$rig_bin" "$with" "$image1" "$image2" "$image3"
  mv "$initramfs.new" "$initramfs"
  elogind=no
  [[ -x ${OSKEL_RIG_ELOGIND:-/var/cache/oskel-rig/elogind}/lib/elogind/elogind && -x $rig_bin/oskel-fake-polkit ]] && elogind=yes
  printf 'kernel=%s\nupdater=%s\nelogind=%s\n' "$kernel" "$with" "$elogind" >"$work/initramfs.txt"
  echo "initramfs: kernel $kernel, program under test: $with, $(stat -c %s "$initramfs") bytes"
  exit 0
fi

[[ -f $initramfs_txt ]] || { echo "run_scenario: no initramfs (the linux.initramfs test makes it)" >&2; exit 1; }
kernel=$(sed -n 's/^kernel=//p' "$initramfs_txt")
if [[ $what != rig && $what != measure && $what != fwupd-* ]] && ! grep -qx "updater=$updater" "$initramfs_txt"; then
  echo "skipped: $updater does not exist (cmake --preset linux && cmake --build --preset linux builds it)"
  exit $skipped
fi

# What is held during a download is tested against Debian's elogind, whose files tools/setup.sh
# takes from the package.
if [[ $what == sleep-mid-download || $what == sleep-mode1 || $what == held-refused ]] && ! grep -qx "elogind=yes" "$work/initramfs.txt"; then
  echo "skipped: elogind's files are not in ${OSKEL_RIG_ELOGIND:-/var/cache/oskel-rig/elogind} (tools/setup.sh takes them from Debian's package)"
  exit $skipped
fi

results=$work/$what
rm -rf "$results"
mkdir -p "$results/out"
start=$(date +%s%N)
status=0
timeout $boot_limit_s qemu-system-x86_64 -nodefaults -display none -no-reboot -m 512 -serial stdio \
  -debugcon "file:$results/results.tar" -kernel "/boot/vmlinuz-$kernel" -initrd "$initramfs" \
  -append "console=ttyS0 quiet panic=-1 rig.scenario=$what" </dev/null >"$results/console.txt" 2>"$results/qemu.txt" ||
  status=$?
boot_ms=$((($(date +%s%N) - start) / 1000000))
echo "boot: scenario $what in ${boot_ms} ms (qemu exit $status)"

tar -xf "$results/results.tar" -C "$results/out" 2>/dev/null || echo "run_scenario: no results from the machine"
grep -E '^@@rig (fatal|sending|done)' "$results/console.txt" || true

source "$here/expectations.sh"
expect_scenario "$what" "$results/out"
