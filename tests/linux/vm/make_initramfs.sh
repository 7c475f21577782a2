#!/usr/bin/env bash
# Makes the test machine's initramfs (test rig only):
#   make_initramfs.sh OUT KERNEL_VERSION RIG_BIN UPDATER IMAGE1 IMAGE2 IMAGE3 [FWUPDTOOL]
# OUT the gzip'ed cpio archive to write; KERNEL_VERSION the packaged kernel whose modules it
# carries; RIG_BIN the folder of the rig's static programs (oskel-usbip-rig, oskel-uhid-rig,
# oskel-hidraw-loop, oskel-usbmon-record, oskel-rig-debugcon); UPDATER the program under test, or
# "-" for none; IMAGE1..3 the firmware images (for the bare loop); FWUPDTOOL fwupd's fwupdtool with
# the project's plugin, for fwupd's scenarios (fwupd_initramfs.sh), or "-" (the default) for none.
#
# It holds busybox (static) with its applet links, the modules of that kernel that the USB host
# stack, USB/IP's virtual host controller, usbmon and the HID stack need (init.sh loads them),
# udevd with its libraries, the project's udev rules and the rig's access rule, the unprivileged
# user "rig" (uid 1000), the rig's programs, the program under test with the libraries that ldd
# lists, /init (init.sh) and the scenarios (scenarios.sh).
set -euo pipefail
out=$1 kernel=$2 rig_bin=$3 updater=$4
images=("$5" "$6" "$7")
fwupdtool=${8:--}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"  # mktemp made it 0700: the user must reach /bin and /rig
mkdir -p "$root"/{bin,sbin,etc,proc,sys,dev,run,tmp,rig/bin,rig/images,rig/modules,lib/udev/rules.d,lib/systemd}

# busybox and its applets; busybox itself must not be a link to itself.
cp /bin/busybox "$root/bin/busybox"
for applet in $(/bin/busybox --list); do
  [[ $applet == busybox ]] && continue
  ln -s busybox "$root/bin/$applet"
done

# A program and the libraries it loads, at the same paths.
copy_with_libraries() {
  local program=$1 target=$2
  mkdir -p "$root$(dirname "$target")"
  cp -L "$program" "$root$target"
  local library
  for library in $(ldd "$program" 2>/dev/null | grep -o '/[^ ]*' || true); do
    [[ -e $root$library ]] && continue
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
}

drivers=/lib/modules/$kernel/kernel/drivers
for module in usb/common/usb-common usb/core/usbcore usb/usbip/usbip-core usb/usbip/vhci-hcd usb/mon/usbmon \
  hid/hid hid/usbhid/usbhid hid/hid-generic hid/uhid; do
  name=$(basename "$module")
  if [[ -f $drivers/$module.ko ]]; then
    cp "$drivers/$module.ko" "$root/rig/modules/"
  elif [[ -f $drivers/$module.ko.xz ]]; then
    xz -dc "$drivers/$module.ko.xz" >"$root/rig/modules/$name.ko"
  else
    echo "make_initramfs: no module $module for kernel $kernel" >&2
    exit 1
  fi
done

# udevd is udevadm under another name.
copy_with_libraries "$(command -v udevadm)" /bin/udevadm
ln -s /bin/udevadm "$root/lib/systemd/systemd-udevd"

# The project's rules, as the package installs them.
cp "$source_dir/res/linux/70-oskel-update.rules" "$root/lib/udev/rules.d/70-oskel-update.rules"
cp "$here/../73-oskel-rig-access.rules" "$root/lib/udev/rules.d/"

printf 'root:x:0:0:root:/root:/bin/sh\nrig:x:1000:1000:rig:/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nrig:x:1000:\n' >"$root/etc/group"

for program in oskel-usbip-rig oskel-uhid-rig oskel-hidraw-loop oskel-usbmon-record oskel-rig-debugcon; do
  strip -o "$root/rig/bin/$program" "$rig_bin/$program"
done
if [[ $updater != - ]]; then
  copy_with_libraries "$updater" /rig/bin/oskel-update
fi
for mode in 1 2 3; do cp "${images[mode - 1]}" "$root/rig/images/mode$mode.bin"; done

# The program's own scenarios (tests/oskel_update/): a second user "guest" (uid 1001), who is not
# the user at the seat; GNU env, to start the program with signals set as its caller sets them;
# the package's postinst; a system bus (dbus-daemon) with the stand-in for logind when it was
# built.
printf 'guest:x:1001:1001:guest:/tmp:/bin/sh\n' >>"$root/etc/passwd"
printf 'guest:x:1001:\n' >>"$root/etc/group"
copy_with_libraries "$(command -v env)" /rig/bin/env
install -m 755 "$source_dir/res/linux/postinst" "$root/rig/postinst"
if [[ -x $rig_bin/oskel-fake-logind ]] && command -v dbus-daemon >/dev/null; then
  copy_with_libraries "$(command -v dbus-daemon)" /bin/dbus-daemon
  copy_with_libraries "$rig_bin/oskel-fake-logind" /rig/bin/oskel-fake-logind
fi
if [[ $fwupdtool != - ]]; then
  source "$here/fwupd_initramfs.sh"
  add_fwupd "$fwupdtool"
fi
# The libraries that the program loads at run time, when they are there, and that ldd therefore
# does not name, with theirs: libsystemd (the inhibitor, the seat) and libusb (mode 1's requests).
for library in libsystemd.so.0 libusb-1.0.so.0; do
  path=$(ldconfig -p | awk -v name="$library" '$1 == name && /x86-64/ && !found++ { print $NF }')
  [[ -n $path ]] || { echo "make_initramfs: no $library on this machine" >&2; exit 1; }
  copy_with_libraries "$path" "$path"
done

# The program as its users get it (scenarios tarball-install and packages-install): the release's
# tarball of the program under test, which the scenario unpacks and installs as a user would; the
# payloads of the rpm and of the Arch package made from that tarball (/rig/packages/{rpm,arch}:
# payload/ their files, files.txt their list, and their scripts: the rpm's post and postun, the
# Arch package's install).
if [[ $updater != - ]]; then
  version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\)[ )].*/\1/p' "$source_dir/CMakeLists.txt")
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 0)}
  export SOURCE_DATE_EPOCH
  made=$root/rig/made
  mkdir -p "$made" "$root/rig/tarball"
  tarball=$(bash "$source_dir/tools/make-tarball.sh" "$updater" "$version" "$root/rig/tarball")
  if command -v rpmbuild >/dev/null && command -v rpm2cpio >/dev/null; then
    rpm=$(bash "$source_dir/tools/make-rpm.sh" "$tarball" "$version" "$made")
    mkdir -p "$root/rig/packages/rpm/payload"
    (cd "$root/rig/packages/rpm/payload" && rpm2cpio "$rpm" | cpio -idm --quiet)
    rpm -qp --qf '%{POSTIN}' "$rpm" >"$root/rig/packages/rpm/post"
    rpm -qp --qf '%{POSTUN}' "$rpm" >"$root/rig/packages/rpm/postun"
    rpm -qlp "$rpm" >"$root/rig/packages/rpm/files.txt"
  fi
  if command -v makepkg >/dev/null && command -v bsdtar >/dev/null; then
    arch_package=$(bash "$source_dir/tools/make-arch.sh" "$tarball" "$version" "$made")
    mkdir -p "$root/rig/packages/arch/payload"
    bsdtar -xf "$arch_package" -C "$root/rig/packages/arch/payload" --exclude '.*'
    bsdtar -xOf "$arch_package" .INSTALL >"$root/rig/packages/arch/install"
    bsdtar -tf "$arch_package" | grep -v '^\.' | grep -v '/$' | sed 's|^|/|' >"$root/rig/packages/arch/files.txt"
  fi
  rm -rf "$made"
fi

# What is held during a download: Debian's elogind (its files as tools/setup.sh took them from
# the package) with its busctl and elogind-inhibit, logind's polkit policy, and the stand-ins for
# polkit (which answers elogind by that policy's defaults) and for the desktop portal on the user's
# session bus; without them the sleep scenarios report themselves skipped.
elogind=${OSKEL_RIG_ELOGIND:-/var/cache/oskel-rig/elogind}
if [[ -x $elogind/lib/elogind/elogind && -x $rig_bin/oskel-fake-polkit && -x $rig_bin/oskel-fake-portal ]] &&
  command -v dbus-daemon >/dev/null; then
  mkdir -p "$root/lib/elogind" "$root/etc/elogind" "$root/usr/bin" "$root/usr/share/polkit-1/actions"
  cp -a "$elogind/lib/elogind/." "$root/lib/elogind/"
  for program in lib/elogind/elogind usr/bin/busctl bin/elogind-inhibit bin/loginctl; do
    cp -L "$elogind/$program" "$root/$program"
    for library in $(LD_LIBRARY_PATH=$elogind/lib/elogind ldd "$elogind/$program" | grep -o '=> /[^ ]*' | cut -c4-); do
      [[ $library == "$elogind"/* || -e $root$library ]] && continue
      mkdir -p "$root$(dirname "$library")"
      cp -L "$library" "$root$library"
    done
  done
  cp "$elogind/usr/share/polkit-1/actions/org.freedesktop.login1.policy" "$root/usr/share/polkit-1/actions/"
  copy_with_libraries "$rig_bin/oskel-fake-polkit" /rig/bin/oskel-fake-polkit
  copy_with_libraries "$rig_bin/oskel-fake-portal" /rig/bin/oskel-fake-portal
fi
cp "$here/init.sh" "$root/init"
cp "$here/scenarios.sh" "$root/rig/scenarios.sh"
chmod 755 "$root/init"

(cd "$root" && find . -print0 | sort -z | cpio --null -o -H newc --quiet) | gzip -1 >"$out"
