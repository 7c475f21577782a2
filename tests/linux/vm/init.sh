#!/bin/sh
# The test machine's init (test rig only): mounts what the kernel's USB and HID stacks and udev
# need, loads the modules (the USB core, USB/IP's virtual host controller, which the rig's USB
# controllers plug into over the loopback interface, usbmon, the HID core, usbhid, hid-generic and
# uhid), starts udevd, runs the scenario named on the kernel's command line (rig.scenario=NAME,
# scenarios.sh) and powers the machine off.
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs run /run
mount -t tmpfs tmp /tmp
chmod 1777 /tmp
# Kernel messages stay off the console, which carries the results; dmesg keeps them.
dmesg -n 1
for module in usb-common usbcore usbip-core vhci-hcd usbmon hid usbhid hid-generic uhid; do
  insmod /rig/modules/$module.ko || echo "@@rig fatal insmod $module"
done
ip link set lo up || echo "@@rig fatal loopback"
/lib/systemd/systemd-udevd --daemon 2>/run/udevd.log || echo "@@rig fatal udevd"
# --daemon returns before the daemon has read its rules and listens on its control socket, and a
# message sent before then (a scenario's reload of the rules it changed) is lost: the scenario
# starts once udevd answers.
tries=0
until udevadm control --ping -t 5 2>/dev/null; do
  [ $tries -lt 250 ] || { echo "@@rig fatal udevd does not answer"; break; }
  usleep 20000
  tries=$((tries + 1))
done
. /rig/scenarios.sh
[ -f /rig/fwupd_scenarios.sh ] && . /rig/fwupd_scenarios.sh
scenario=$(sed -n 's/.*rig\.scenario=\([^ ]*\).*/\1/p' /proc/cmdline)
run_scenario "$scenario"
poweroff -f
