# fwupd's scenarios, as the test machine runs them (test rig only; sourced by init.sh after
# scenarios.sh, whose helpers they use). fwupdtool (/rig/fwupd/src/fwupdtool) runs as root with
# the project's plugin alone, against the same USB/IP controllers and device models as the
# program's scenarios; usbmon records the bus around every download.
#
# A controller's folder holds its record and, for a download, the kernel's usbmon.pcapng and
# bus.txt; fwupdtool's outcome is NAME.exit, NAME.stdout, NAME.stderr and NAME.ms.

fwupdtool=/rig/fwupd/src/fwupdtool

# fwupd NAME COMMAND [ARGUMENTS]: fwupdtool as root, in the background (finish NAME waits).
fwupd() {
  local name=$1
  shift
  mkdir -p /run/lock
  as_root "$name" "$fwupdtool" --plugins oskel_controller --no-reboot-check --verbose "$@"
}

# The device ID that fwupdtool get-devices --json printed into NAME.stdout.
fwupd_device_id() { sed -n 's/.*"DeviceId" *: *"\([0-9a-f]*\)".*/\1/p' "$out/$1.stdout" | head -n 1; }

# fwupd_download NAME VID:PID HOW [controller options]: a controller NAME on the bus, usbmon
# recording; get-devices (NAME-devices), then HOW: "blob" sends the mode's image with
# install-blob, "cab" installs the mode's cabinet with install (NAME-install); the controller's
# node once fwupdtool let it go; the controller unplugged.
fwupd_download() {
  local name=$1 ids=$2 how=$3 mode node
  shift 3
  case $ids in 2563:0059) mode=1 ;; 2563:1818) mode=2 ;; *) mode=3 ;; esac
  usbmon_start "$out/$name"
  echo usb >"$out/$name/bus.txt"
  plug_checked "$name" "$ids" "$@"
  fwupd "$name-devices" get-devices --json
  finish "$name-devices"
  case $how in
  blob) fwupd "$name-install" install-blob "$images/mode$mode.bin" "$(fwupd_device_id "$name-devices")" ;;
  cab) fwupd "$name-install" install /rig/fwupd/cabs/oskel-controller-mode$mode-*.cab ;;
  esac
  finish "$name-install"
  # A controller that is still there and answers is usbhid's again, its node made anew; after
  # an unplug or a hung report, the drivers of the USB interfaces there are.
  case " $* " in
  *" --remove-after "* | *" --stall-report "*) interface_drivers >"$out/$name/interfaces.txt" ;;
  *) if node=$(node_of "$ids"); then check_node "$name" "$node"; else echo "node=none" >"$out/$name/node.txt"; fi ;;
  esac
  unplug "$name"
  usbmon_stop
}

# "INTERFACE DRIVER" of each USB interface on the virtual host controller's buses ("-": none).
interface_drivers() {
  local interface driver
  for interface in /sys/bus/usb/devices/*-*:*; do
    [ -e "$interface" ] || continue
    driver=-
    [ -e "$interface/driver" ] && driver=$(basename "$(readlink "$interface/driver")")
    echo "$(basename "$interface") $driver"
  done
}

# Each mode: a controller that fwupd lists and leaves alone, one that install-blob writes, and one
# that the release's cabinet installs on (with the options given).
fwupd_mode() {
  local ids=$1 node
  shift
  plug_checked listed "$ids"
  fwupd listed-devices get-devices --json
  finish listed-devices
  if node=$(node_of "$ids"); then check_node listed "$node"; else echo "node=none" >"$out/listed/node.txt"; fi
  unplug listed
  fwupd_download blob "$ids" blob
  fwupd_download cab "$ids" cab "$@"
}

scenario_fwupd_protocol1() { fwupd_mode 2563:0059; }
# The cabinet's controller refuses the start report twice: the third try goes through.
scenario_fwupd_protocol2() { fwupd_mode 2563:1818 --refuse-start 2; }
scenario_fwupd_protocol3() { fwupd_mode 0461:4d81; }
# The controller is unplugged after it took report 100 (protocol 2); the controller holds report
# 100 (protocol 3) until fwupd gives it up.
scenario_fwupd_unplug_mid_download() { fwupd_download controller 2563:1818 blob --remove-after 100; }
scenario_fwupd_stalled_report() { fwupd_download controller 0461:4d81 blob --stall-report 100; }
