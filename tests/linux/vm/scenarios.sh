# The scenarios, as the test machine runs them (test rig only; sourced by init.sh). Each one
# plugs in controllers, runs the program under test or the bare loop as the unprivileged user
# "rig", unplugs the controllers (which writes their records) and leaves what it saw in /run/out;
# send_results then sends that folder as a tar archive through qemu's debug console
# (oskel-rig-debugcon), where run_scenario.sh unpacks it and checks it. The serial console
# carries "@@rig" lines only: the scenario, fatal errors, and the end.
#
# A controller is a virtual full-speed USB device (oskel-usbip-rig) in a port of USB/IP's virtual
# host controller, which usbcore enumerates and usbhid binds, unless the scenario sets bus=uhid
# (oskel-uhid-rig: a uhid device, with no USB device beneath its node).
#
# A program's outcome is NAME.exit (its exit status), NAME.stdout, NAME.stderr and NAME.ms (its
# run time in milliseconds); a controller's record is the folder named after it
# (status.txt, flash.bin, trace.txt, timing.txt, descriptor.bin) with node.txt (its hidraw
# node's checks: see check_node). A download scenario also leaves usbmon.pcapng, the kernel's
# record of the bus (oskel-usbmon-record), and bus.txt, the bus its controller was on.

out=/run/out
bin=/rig/bin
images=/rig/images
# How long a scenario waits for one program to end: longer than any download takes here.
program_limit_s=150
# Where the controllers are plugged in: usb (oskel-usbip-rig) or uhid (oskel-uhid-rig).
bus=usb
# Mode 1's program scenarios run on uhid until oskel-update sends protocol 1's reports as
# SET_REPORT requests on endpoint 0: through usbhid its write() leaves on the interrupt OUT
# endpoint, which the mode-1 controller refuses as its boot loader does. Set it to usb then.
protocol1_bus=usb

now_ms() {
  local up
  read -r up _ </proc/uptime
  echo $((${up%.*} * 1000 + 10#${up#*.} * 10))
}

# The hidraw node whose HID device has this HID_ID (BUS:VENDOR:PRODUCT as the kernel writes it).
node_with_hid_id() {
  local uevent tries=0
  while [ $tries -lt 500 ]; do
    for uevent in /sys/class/hidraw/hidraw*/device/uevent; do
      grep -qx "HID_ID=$1" "$uevent" 2>/dev/null || continue
      udevadm settle -t 10
      basename "$(dirname "$(dirname "$uevent")")"
      return 0
    done
    usleep 20000
    tries=$((tries + 1))
  done
  return 1
}

# The hidraw node of the controller VID:PID, once udev has handled its arrival.
node_of() {
  local vid pid
  vid=$(echo "${1%:*}" | tr a-f A-F)
  pid=$(echo "${1#*:}" | tr a-f A-F)
  node_with_hid_id "0003:0000$vid:0000$pid"
}

# What the kernel and udev made of a controller's node, into NAME/node.txt: the hidraw node,
# whether hid-core holds the report descriptor the device was created with, the driver that
# bound it, the driver of the USB interface beneath it (none on uhid), the node's udev tags and
# its owner.
check_node() {
  local name=$1 node=$2 sys=/sys/class/hidraw/$2/device
  {
    echo "node=$node"
    if cmp -s "$sys/report_descriptor" "$out/$name/descriptor.bin"; then echo "descriptor=same"; else echo "descriptor=differs"; fi
    echo "driver=$(basename "$(readlink "$sys/driver")")"
    echo "transport=$(basename "$(readlink "$sys/../driver" 2>/dev/null || echo none)")"
    echo "tags=$(udevadm info -q property -n "/dev/$node" | sed -n 's/^TAGS=//p')"
    echo "current_tags=$(udevadm info -q property -n "/dev/$node" | sed -n 's/^CURRENT_TAGS=//p')"
    echo "owner=$(stat -c %u "/dev/$node")"
    usb_node_facts "$sys/../.."
  } >"$out/$name/node.txt"
}

# await_line FILE WORD WHAT: waits up to 5 s for a line that starts with WORD in FILE (a rig
# program saying it is ready); a fatal error about WHAT when none comes.
await_line() {
  local tries=0
  while ! grep -q "^$2" "$1" 2>/dev/null; do
    [ $tries -lt 250 ] || { echo "@@rig fatal $3"; return 1; }
    usleep 20000
    tries=$((tries + 1))
  done
}

# plug NAME VID:PID [fault and model options]: a controller on $bus, its record in /run/out/NAME.
plug() {
  local name=$1 ids=$2 program=oskel-usbip-rig
  shift 2
  [ "$bus" = uhid ] && program=oskel-uhid-rig
  mkdir -p "$out/$name"
  echo "$bus" >"$out/$name/bus.txt"
  "$bin/$program" "$ids" --record "$out/$name" "$@" >"$out/$name/rig.stdout" 2>"$out/$name/rig.stderr" &
  echo $! >"/run/$name.pid"
  await_line "$out/$name/rig.stdout" plugged "$name was not plugged in"
}

# plug_checked NAME VID:PID [options]: plug, then wait for the node and check it.
plug_checked() {
  local node
  plug "$@" || return 1
  node=$(node_of "$2") || { echo "node=none" >"$out/$1/node.txt"; return 1; }
  check_node "$1" "$node"
}

# unplug NAME: the controller ends, its record written, its device destroyed.
unplug() {
  local pid
  pid=$(cat "/run/$1.pid")
  kill -TERM "$pid"
  wait "$pid"
  echo $? >"$out/$1/rig.exit"
}

# as_user NAME PROGRAM [ARGUMENTS]: runs a program as the user "rig" in the background, its
# outcome in /run/out/NAME.*; the process id in /run/NAME.pid. as_root: the same as root.
as_user() { run_as rig "$@"; }
as_root() { run_as root "$@"; }
run_as() {
  local user=$1 name=$2
  shift 2
  (
    start=$(now_ms)
    # "--": busybox su would take the program's options for its own.
    timeout -s KILL $program_limit_s su -s /bin/sh -c 'exec "$0" "$@"' -- "$user" "$@" \
      >"$out/$name.stdout" 2>"$out/$name.stderr" </dev/null
    echo $? >"$out/$name.exit"
    echo $(($(now_ms) - start)) >"$out/$name.ms"
  ) &
  echo $! >"/run/$name.pid"
}

finish() { wait "$(cat "/run/$1.pid")"; }

# wait_waiting [COUNT]: waits until COUNT (1) programs under test have a thread asleep in poll
# or select (waiting for arrivals), at most 10 s.
wait_waiting() {
  local want=${1:-1} tries=0 child waiting
  while [ $tries -lt 500 ]; do
    waiting=0
    for child in $(pidof oskel-update); do
      if cat /proc/$child/task/*/wchan 2>/dev/null | tr '\0' '\n' | grep -qE 'poll|select'; then
        waiting=$((waiting + 1))
      fi
    done
    [ $waiting -ge "$want" ] && { usleep 200000; return 0; }
    usleep 20000
    tries=$((tries + 1))
  done
  for child in $(pidof oskel-update); do
    echo "$child $(tr '\0' ' ' <"/proc/$child/cmdline"): $(cat /proc/$child/task/*/wchan 2>&1 | tr '\0' ' ')"
  done >"$out/not-waiting.txt"
}

# The bus of the virtual host controller that takes full-speed devices (its USB 2.0 root hub).
vhci_bus() {
  local hub
  for hub in /sys/devices/platform/vhci_hcd.0/usb*; do
    [ "$(cat "$hub/speed")" = 480 ] && { cat "$hub/busnum"; return 0; }
  done
  return 1
}

# usbmon_start [FOLDER]: the kernel's record of the virtual host controller's bus from now on,
# into FOLDER/usbmon.pcapng (/run/out by default; started before a controller is plugged in, so
# that its enumeration is in it); usbmon_stop ends it (usbmon.stdout: its counts, usbmon.exit: 0
# when it lost nothing).
usbmon_start() {
  usbmon_folder=${1:-$out}
  mkdir -p "$usbmon_folder"
  "$bin/oskel-usbmon-record" "$(vhci_bus)" "$usbmon_folder/usbmon.pcapng" >"$usbmon_folder/usbmon.stdout" \
    2>"$usbmon_folder/usbmon.stderr" &
  echo $! >/run/usbmon.pid
  await_line "$usbmon_folder/usbmon.stdout" recording "usbmon is not recording"
}
usbmon_stop() {
  kill -TERM "$(cat /run/usbmon.pid)"
  wait "$(cat /run/usbmon.pid)"
  echo $? >"$usbmon_folder/usbmon.exit"
}

node_path() { echo "/dev/$(sed -n 's/^node=//p' "$out/$1/node.txt")"; }

# The rig's own checks, without the program under test: each mode's download by the bare loop
# through usbhid (mode 1's as SET_REPORT and GET_REPORT requests through usbfs, recorded by
# usbmon), mode 1's output report on the interrupt OUT endpoint, which its controller refuses, a
# controller in its normal mode, and one that the project's rules do not name (1234:5678), as
# uhid devices and as USB devices.
scenario_rig() {
  udevadm monitor --udev --subsystem-match=hidraw >"$out/monitor.txt" 2>&1 &
  local monitor=$! mode ids
  usleep 300000
  usbmon_start "$out/mode1"
  plug_checked mode1 2563:0059
  as_root loop1 "$bin/oskel-hidraw-loop" 1 "$(node_path mode1)" "$images/mode1.bin" --control
  finish loop1
  unplug mode1
  usbmon_stop
  plug_checked mode1-interrupt 2563:0059
  as_user loop1-interrupt "$bin/oskel-hidraw-loop" 1 "$(node_path mode1-interrupt)" "$images/mode1.bin"
  finish loop1-interrupt
  unplug mode1-interrupt
  for mode in 2 3; do
    case $mode in 2) ids=2563:1818 ;; 3) ids=0461:4d81 ;; esac
    plug_checked "mode$mode" "$ids"
    as_user "loop$mode" "$bin/oskel-hidraw-loop" $mode "$(node_path "mode$mode")" "$images/mode$mode.bin"
    finish "loop$mode"
    unplug "mode$mode"
  done
  plug_checked normal 045e:028e
  unplug normal
  # A controller the project's rules do not name: its node stays root's.
  plug_checked stranger 1234:5678
  as_user open-stranger "$bin/oskel-hidraw-loop" 2 "$(node_path stranger)" "$images/mode2.bin"
  finish open-stranger
  unplug stranger
  usleep 300000
  kill "$monitor"
}

# The program writes its HID traffic as a USB capture (--capture), which the host checks against
# the models and against usbmon's record; the user may write only below /tmp.
keep_capture() { cp /tmp/capture.pcapng "$out/capture.pcapng" 2>/dev/null || true; }

# Around a download: usbmon records a USB controller's bus from before it is plugged in.
record_start() { echo "$bus" >"$out/bus.txt"; [ "$bus" = usb ] && usbmon_start; }
record_stop() { [ "$bus" = usb ] && usbmon_stop; keep_capture; }

start_scenario() {
  local ids=$1
  shift
  record_start
  plug_checked controller "$ids" "$@"
  as_user program "$bin/oskel-update" --capture /tmp/capture.pcapng
  finish program
  unplug controller
  record_stop
}

arrival_scenario() {
  record_start
  as_user program "$bin/oskel-update" --wait --once --capture /tmp/capture.pcapng
  wait_waiting
  plug_checked controller "$1"
  finish program
  # The node as the program left it: mode 1's comes back when usbhid has its interface again.
  check_node controller "$(node_of "$1")"
  unplug controller
  record_stop
}

scenario_start_protocol2() { start_scenario 2563:1818; }
scenario_start_protocol3() { start_scenario 0461:4d81; }
scenario_arrival_protocol1() { bus=$protocol1_bus; arrival_scenario 2563:0059; }
scenario_arrival_protocol2() { arrival_scenario 2563:1818; }
scenario_arrival_protocol3() { arrival_scenario 0461:4d81; }
# A controller with no USB device beneath its node, as on Bluetooth or behind a driver in user
# space: only uhid makes one. The program finds it by its HID id alone, and its capture gives it
# a place on a bus of its own.
scenario_uhid_start_protocol2() { bus=uhid; start_scenario 2563:1818; }
# Then --wait where no udev daemon can be heard, as in a container: /run/udev (its control
# socket, which libudev looks for) hidden by an empty folder.
scenario_no_controller() {
  as_user program "$bin/oskel-update"
  finish program
  mount -t tmpfs no-udev /run/udev
  as_user no-udev /bin/timeout 20 "$bin/oskel-update" --wait
  finish no-udev
  umount /run/udev
}
# Then Start with a controller in update mode 1 alone, which only its arrival updates.
scenario_normal_controller() {
  plug_checked controller 045e:028e
  as_user program "$bin/oskel-update"
  finish program
  unplug controller
  bus=$protocol1_bus
  plug_checked mode1 2563:0059
  as_user mode1-start "$bin/oskel-update"
  finish mode1-start
  unplug mode1
}
# The stall of report 100 reaches the program's write (protocol 2 reads nothing back); a report
# the controller never answers holds the program's write until usbhid gives it up (protocol 3);
# the unplug comes after the controller took report 100, before or while the program's next write
# reaches the bus (protocol 2); the unplug comes while report 101 is on the bus, taken by the
# controller's port but never answered, so that the host controller gives it back to the
# program's write (protocol 2).
scenario_refused_report() { start_scenario 2563:1818 --refuse-report 100; }
scenario_stalled_report() { start_scenario 0461:4d81 --stall-report 100; }
scenario_unplug_mid_download() { start_scenario 2563:1818 --remove-after 100; }
scenario_unplug_in_flight() { start_scenario 2563:1818 --remove-before-report 101; }

scenario_two_programs() {
  two_programs_on 0461:4d81 first second controller
  # Mode 1: the winner takes the controller's interface from usbhid and gives it back after its
  # download, so its node arrives anew for the other program, which must not download again.
  two_programs_on 2563:0059 first1 second1 controller1
}

# two_programs_on VID:PID FIRST SECOND CONTROLLER: two programs wait, then the controller comes.
two_programs_on() {
  local first=$2 second=$3
  as_user "$first" "$bin/oskel-update" --wait --once
  as_user "$second" "$bin/oskel-update" --wait --once
  wait_waiting 2
  plug_checked "$4" "$1"
  # The one that wrote the controller ends; the other goes on waiting for another controller,
  # until it is told to end (after the node given back, for mode 1, has come).
  wait_for_file "$out/$first.exit" "$out/$second.exit"
  [ "$1" = 2563:0059 ] && check_node "$4" "$(node_of "$1")" && usleep 2000000
  usleep 500000
  pidof oskel-update >"$out/still-waiting-$4.txt"
  kill -TERM $(pidof oskel-update) 2>/dev/null
  finish "$first"
  finish "$second"
  unplug "$4"
}

# Each mode's download by the bare loop and by the updater, one after the other, each
# measure_runs times (measure.sh): loopM-R and updaterM-R, their controllers loop-modeM-R and
# updater-modeM-R, all on USB. Mode 1's bare loop sends its requests on endpoint 0 through usbfs;
# mode 1's updater runs only once its scenarios run on USB (protocol1_bus).
measure_runs=5
scenario_measure() {
  local mode ids run control
  for run in $(seq $measure_runs); do
    for mode in 1 2 3; do
      case $mode in 1) ids=2563:0059 control=--control ;; 2) ids=2563:1818 control= ;; 3) ids=0461:4d81 control= ;; esac
      plug_checked "loop-mode$mode-$run" "$ids"
      as_root "loop$mode-$run" "$bin/oskel-hidraw-loop" $mode "$(node_path "loop-mode$mode-$run")" \
        "$images/mode$mode.bin" $control
      finish "loop$mode-$run"
      unplug "loop-mode$mode-$run"
      [ -x "$bin/oskel-update" ] || continue
      if [ $mode = 1 ]; then
        [ "$protocol1_bus" = usb ] || continue
        as_user "updater$mode-$run" "$bin/oskel-update" --wait --once
        wait_waiting
        plug_checked "updater-mode$mode-$run" "$ids"
      else
        plug_checked "updater-mode$mode-$run" "$ids"
        as_user "updater$mode-$run" "$bin/oskel-update"
      fi
      finish "updater$mode-$run"
      unplug "updater-mode$mode-$run"
    done
  done
}

# ---- The program's own scenarios (tests/oskel_update/): the faults of issue 22 ----

# usb_node_facts USB_DEVICE_SYSFS: the USB device node beneath a hidraw node, its tags and owner
# (nothing on uhid).
usb_node_facts() {
  local name
  name=$(sed -n 's/^DEVNAME=//p' "$1/uevent" 2>/dev/null)
  [ -n "$name" ] && [ -f "$1/idVendor" ] || return 0
  echo "usb_node=/dev/$name"
  echo "usb_tags=$(udevadm info -q property -n "/dev/$name" | sed -n 's/^TAGS=//p')"
  echo "usb_owner=$(stat -c %u "/dev/$name")"
}

# Mode 1 through usbfs: usbhid has the interface again after a refused report (a stall), a failed
# identification (its reply refused), a signal, and an unplug (after which the same program
# downloads to the next controller). The success is arrival-protocol1's.
give_back_run() {
  local name=$1
  shift
  as_user "$name" "$bin/oskel-update" --wait "$@"
  wait_waiting
}
# give_back_check NAME: the node of the controller NAME once the program has let it go. (A
# controller's name must not be a program's: both keep their process id in /run/NAME.pid.)
give_back_check() {
  local node
  if node=$(node_of 2563:0059); then check_node "$1" "$node"; else echo "node=none" >"$out/$1/node.txt"; fi
}
scenario_protocol1_give_back() {
  give_back_run refused --once
  plug controller-refused 2563:0059 --refuse-report 100
  finish refused
  give_back_check controller-refused
  unplug controller-refused
  give_back_run unidentified --once
  plug controller-unidentified 2563:0059 --fail-reply 1
  finish unidentified
  give_back_check controller-unidentified
  unplug controller-unidentified
  give_back_run signal --once
  plug controller-signal 2563:0059 --latency 2
  wait_for_line "$out/signal.stdout" '^progress [1-9]' "$out/signal.exit"
  kill -TERM "$(pidof oskel-update)"
  finish signal
  give_back_check controller-signal
  unplug controller-signal
  give_back_run unplugged
  plug controller-unplugged 2563:0059 --remove-after 100
  wait_for_line "$out/unplugged.stdout" '^Download Failture!' "$out/unplugged.exit"
  unplug controller-unplugged
  plug controller-after-unplug 2563:0059
  wait_for_line "$out/unplugged.stdout" '^Download Successful!' "$out/unplugged.exit"
  give_back_check controller-after-unplug
  kill -TERM "$(pidof oskel-update)"
  finish unplugged
  unplug controller-after-unplug
}

# What is left of mode 1's controller after an interrupted download, and a controller that
# answers nothing: the give-back at the next start, and after the outcome.
scenario_protocol1_interrupted() {
  give_back_killed
  give_back_silent
}

# interface_state FILE VID:PID: the driver of the controller's USB interface (none without one) and
# its hidraw node (none without one), as the kernel has them.
interface_state() {
  local dev intf driver node
  for dev in /sys/bus/usb/devices/*; do
    [ "$(cat "$dev/idVendor" 2>/dev/null):$(cat "$dev/idProduct" 2>/dev/null)" = "$2" ] || continue
    for intf in "$dev"/*:1.*; do
      driver=$(readlink "$intf/driver") && echo "driver=$(basename "$driver")" || echo "driver=none"
      node=$(ls -d "$intf"/*/hidraw/hidraw* 2>/dev/null | head -n 1)
      echo "hidraw=$([ -n "$node" ] && basename "$node" || echo none)"
    done
  done >"$1"
}

# A program killed (SIGKILL) in mode 1's download leaves the controller's interface without a
# driver, three times: --list gives it back and lists it, and says to replug a mode-2 controller
# left so too, whose USB device node the user may not open; Start gives it back; then "--wait
# --once" gives it back itself, and downloads to it.
give_back_killed() {
  local intf
  give_back_run killed --once
  plug controller-killed 2563:0059 --latency 2
  wait_for_line "$out/killed.stdout" '^progress [1-9]' "$out/killed.exit"
  kill -KILL "$(pidof oskel-update)"
  finish killed
  interface_state "$out/controller-killed/after-kill.txt" 2563:0059
  plug_checked controller-unbound 2563:1818
  for intf in /sys/bus/usb/devices/*:1.0; do
    [ "$(cat "$intf/../idProduct" 2>/dev/null)" = 1818 ] && echo -n "$(basename "$intf")" >/sys/bus/usb/drivers/usbhid/unbind
  done
  interface_state "$out/controller-unbound/unbound.txt" 2563:1818
  as_user list-killed "$bin/oskel-update" --list
  finish list-killed
  give_back_run killed-again --once
  wait_for_line "$out/killed-again.stdout" '^progress [1-9]' "$out/killed-again.exit"
  kill -KILL "$(pidof oskel-update)"
  finish killed-again
  as_user start-killed "$bin/oskel-update"
  finish start-killed
  interface_state "$out/controller-killed/after-start.txt" 2563:0059
  give_back_run killed-third --once
  wait_for_line "$out/killed-third.stdout" '^progress [1-9]' "$out/killed-third.exit"
  kill -KILL "$(pidof oskel-update)"
  finish killed-third
  interface_state "$out/controller-killed/after-third-kill.txt" 2563:0059
  as_user after-kill "$bin/oskel-update" --wait --once
  finish after-kill
  give_back_check controller-killed
  unplug controller-killed
  unplug controller-unbound
}

# stamp_line FILE PATTERN NAME GIVE_UP_FILE: once a line of FILE matches, NAME and the time (ms of
# uptime) into /run/out/silent-times.txt.
stamp_line() {
  wait_for_line "$1" "$2" "$4" && echo "$3=$(now_ms)" >>"$out/silent-times.txt"
}

# A controller that answers nothing once it has taken the identify command (its reply never comes,
# nor any answer on endpoint 0 after it): the download fails at the reply's limit and its outcome
# is shown at once; the give-back waits for usbhid's probe, which fails, and the program says to
# replug the controller; a SIGINT meanwhile is not "held off until the download has ended".
give_back_silent() {
  local stamps=""
  give_back_run silent --once
  echo "plugged=$(now_ms)" >"$out/silent-times.txt"
  plug controller-silent 2563:0059 --stall-reply 1
  stamp_line "$out/silent.stdout" '^Download Failture!' outcome "$out/silent.exit" &
  stamps="$stamps $!"
  stamp_line "$out/silent.stderr" 'giving the controller back to the system' giving "$out/silent.exit" &
  stamps="$stamps $!"
  stamp_line "$out/silent.stderr" 'could not be given back' not-given-back "$out/silent.exit" &
  stamps="$stamps $!"
  usleep 8000000
  kill -INT "$(pidof oskel-update)"
  finish silent
  echo "ended=$(now_ms)" >>"$out/silent-times.txt"
  wait $stamps
  interface_state "$out/controller-silent/after.txt" 2563:0059
  unplug controller-silent
}

# wait_for_file FILE...: until one of the files exists, at most program_limit_s.
wait_for_file() {
  local tries=0 file
  while [ $tries -lt $((program_limit_s * 10)) ]; do
    for file in "$@"; do [ -e "$file" ] && return 0; done
    usleep 100000
    tries=$((tries + 1))
  done
  return 1
}

# wait_for_line FILE PATTERN [GIVE_UP_FILE]: until a line of FILE matches, at most
# program_limit_s, or until GIVE_UP_FILE exists.
wait_for_line() {
  local tries=0
  while ! grep -q "$2" "$1" 2>/dev/null; do
    [ $tries -lt $((program_limit_s * 10)) ] || return 1
    [ -n "${3:-}" ] && [ -e "$3" ] && return 1
    usleep 100000
    tries=$((tries + 1))
  done
}

node_name() { sed -n 's/^node=//p' "$out/$1/node.txt"; }

# A system bus (dbus-daemon) with the stand-in for systemd-logind, which records the inhibitors
# it is asked for in /run/out/logind/inhibitors.txt.
start_logind() {
  mkdir -p "$out/logind"
  [ -x /bin/dbus-daemon ] && [ -x "$bin/oskel-fake-logind" ] || { echo "no bus" >"$out/logind/missing"; return 1; }
  start_system_bus || return 1
  "$bin/oskel-fake-logind" "$out/logind/inhibitors.txt" >"$out/logind/stdout" 2>"$out/logind/stderr" &
  echo $! >/run/logind.pid
  wait_for_line "$out/logind/stdout" '^ready'
}

# The system bus (dbus-daemon), open to every user and name.
start_system_bus() {
  mkdir -p /run/dbus
  echo 0123456789abcdef0123456789abcdef >/etc/machine-id
  cat >/run/dbus/system.conf <<'EOF'
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
  dbus-daemon --config-file=/run/dbus/system.conf --fork --nopidfile 2>"$out/dbus.stderr"
}

# Start goes past a controller in its normal mode (plugged in first, so listed first) to the
# update modes, updates the first of the two there (mode 2) and names the other (mode 3) with the
# command that updates it, which then does; --list names all three, and with --device the one
# chosen; --device by ids chooses the normal-mode controller alone, so that Start finds no update
# mode.
scenario_normal_then_update() {
  local name
  plug_checked normal 045e:028e
  plug_checked mode2 2563:1818
  plug_checked mode3 0461:4d81
  as_user list "$bin/oskel-update" --list
  finish list
  as_user program "$bin/oskel-update" --capture /tmp/capture.pcapng
  finish program
  keep_capture
  as_user next "$bin/oskel-update" "--device=/dev/$(node_name mode3)"
  finish next
  as_user list-chosen "$bin/oskel-update" --list "--device=/dev/$(node_name mode2)"
  finish list-chosen
  as_user chosen "$bin/oskel-update" --device=045e:028e
  finish chosen
  for name in normal mode2 mode3; do unplug $name; done
}

# A download (mode 2, 4 ms per report: some 2.5 s) during which SIGQUIT, SIGTSTP and SIGINT
# arrive, and a SIGHUP that the caller ignored (nohup); the stand-in for logind records the
# inhibitor.
scenario_held_signals() {
  local pid signal tries=0
  start_logind
  plug_checked controller 2563:1818 --latency 4
  as_user program "$bin/env" --default-signal=INT,QUIT,TSTP,TERM --ignore-signal=HUP "$bin/oskel-update"
  wait_for_line "$out/program.stdout" '^progress [1-9]' "$out/program.exit"
  pid=$(pidof oskel-update)
  for signal in QUIT TSTP INT HUP; do
    kill -$signal "$pid"
    usleep 50000
  done
  # Stopped once the download has ended, as SIGTSTP asked.
  while [ $tries -lt $((program_limit_s * 10)) ] && [ -d "/proc/$pid" ] && ! grep -q '^State:.*T' "/proc/$pid/status"; do
    usleep 100000
    tries=$((tries + 1))
  done
  { grep '^State:' "/proc/$pid/status"; echo "stdout: $(grep -v '^progress' "$out/program.stdout")"; } >"$out/stopped.txt" 2>&1
  kill -CONT "$pid"
  finish program
  unplug controller
  kill "$(cat /run/logind.pid)" 2>/dev/null
}

# The access advice and the package's rules: a controller plugged in while the rules are not
# installed; the rules installed by the package's postinst, without a replug; a user who is not
# the one at the seat; then the download.
scenario_access() {
  # udevd has started and read its rules before they go, and has read them again after.
  udevadm control --ping -t 10
  mv /lib/udev/rules.d/70-oskel-update.rules /run/70-oskel-update.rules
  udevadm control --reload
  udevadm control --ping -t 10
  plug_checked controller 2563:1818
  cp "$out/controller/node.txt" "$out/controller/node-before.txt"
  as_user no-rules "$bin/oskel-update"
  finish no-rules
  cp /run/70-oskel-update.rules /lib/udev/rules.d/
  as_user not-applied "$bin/oskel-update" --list
  finish not-applied
  /rig/postinst configure >"$out/postinst.out" 2>&1
  echo $? >"$out/postinst.exit"
  udevadm settle -t 10
  check_node controller "$(node_name controller)"
  run_as guest guest "$bin/oskel-update"
  finish guest
  seats_of_two
  # A device with mode 2's ids on Bluetooth's bus, named with what JSON escapes (a quote, a
  # backslash, a tab, an é and a byte that is no UTF-8): the rules, USB only, leave it root's;
  # --list --json names it and the controller.
  bus=uhid
  plug bluetooth 2563:1818 --hid-bus 5 --name "$(printf 'Pad "Q" \\ \t\303\251\377')"
  bus=usb
  local node
  node=$(node_with_hid_id 0005:00002563:00001818) && check_node bluetooth "$node"
  as_user list-json "$bin/oskel-update" --list --json
  finish list-json
  unplug bluetooth
  as_user program "$bin/oskel-update"
  finish program
  unplug controller
}

# Two seats, as logind records them: guest is the user of the active session at seat0, rig at
# seat1. The controller is at seat1 (its ID_SEAT, as logind's seat rules give a device assigned
# there), then at seat0 (no ID_SEAT): guest, refused both times, is told that it is not the user
# at the controller's seat, then that the system refuses it although it is.
seats_of_two() {
  local sys=/sys/class/hidraw/$(node_name controller)
  mkdir -p /run/systemd/seats /run/systemd/users /run/udev/rules.d
  printf 'ACTIVE=c1\nACTIVE_UID=1001\n' >/run/systemd/seats/seat0
  printf 'ACTIVE=c2\nACTIVE_UID=1000\n' >/run/systemd/seats/seat1
  printf 'ACTIVE_SEATS=seat0\nONLINE_SEATS=seat0\n' >/run/systemd/users/1001
  printf 'ACTIVE_SEATS=seat1\nONLINE_SEATS=seat1\n' >/run/systemd/users/1000
  echo 'SUBSYSTEM=="hidraw", KERNELS=="0003:2563:1818.*", ENV{ID_SEAT}="seat1"' >/run/udev/rules.d/72-oskel-rig-seat.rules
  udevadm control --reload
  udevadm control --ping -t 10
  udevadm trigger --settle --action=change "$sys"
  udevadm info -q property -n "/dev/$(node_name controller)" | grep '^ID_SEAT=' >"$out/seat1.txt"
  run_as guest guest-seat1 "$bin/oskel-update"
  finish guest-seat1
  rm /run/udev/rules.d/72-oskel-rig-seat.rules
  udevadm control --reload
  udevadm control --ping -t 10
  udevadm trigger --settle --action=change "$sys"
  udevadm info -q property -n "/dev/$(node_name controller)" | grep '^ID_SEAT=' >"$out/seat0.txt"
  run_as guest guest-seat0 "$bin/oskel-update"
  finish guest-seat0
  rm -rf /run/systemd/seats /run/systemd/users
}

send_results() {
  dmesg >"$out/dmesg.txt"
  cp /run/udevd.log "$out/udevd.log" 2>/dev/null
  echo "@@rig sending at $(cut -d' ' -f1 /proc/uptime) s"
  tar -c -C "$out" . | "$bin/oskel-rig-debugcon" || echo "@@rig fatal the results were not sent"
  echo "@@rig done at $(cut -d' ' -f1 /proc/uptime) s"
}

run_scenario() {
  local function="scenario_$(echo "$1" | tr - _)"
  mkdir -p "$out"
  echo "@@rig scenario $1"
  if type "$function" >/dev/null 2>&1; then
    "$function"
  else
    echo "@@rig fatal no scenario $1"
  fi
  send_results
}

# ---- The program as its users install it: the tarball's install.sh, the rpm, the Arch package ----

# tree_state FILE: every folder and file under /etc, /home and /usr, with its mode and owner (and a
# file's digest), to tell what an install changed.
tree_state() {
  find /etc /home /usr 2>/dev/null | sort | while read -r path; do
    if [ -f "$path" ]; then
      echo "$(stat -c '%a %u' "$path") $(md5sum <"$path" | cut -d' ' -f1) $path"
    else
      echo "$(stat -c '%a %u' "$path") $path"
    fi
  done >"$1"
}

# no_rig_program: the guest without the program, rules and libsystemd (nor libelogind) of the rig's
# own, udevd having read its rules without them.
no_rig_program() {
  rm -f "$bin/oskel-update" /lib/udev/rules.d/70-oskel-update.rules
  udevadm control --reload
  udevadm control --ping -t 10
}

# The guest as a user of the tarball has it (SteamOS or Fedora's atomic systems): only what the
# tarball holds and the libraries its program names or loads, no libsystemd, /usr read-only, and
# the user at the seat with a home. install.sh first refuses a read-only /etc and a system without
# udev, then runs as root as sudo runs it (for the user rig), and again; the user downloads mode 2
# on Start (to a controller plugged in before the install, not plugged in again) and mode 1 on
# arrival from ~/.local/bin, then, with libusb gone too, waits for mode 1 again; the install with
# SteamOS's keep list; --uninstall.
scenario_tarball_install() {
  local dir applet
  no_rig_program
  find / -xdev \( -name 'libsystemd.so*' -o -name 'libelogind.so*' \) -exec rm -f {} + 2>/dev/null
  ls /lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu 2>/dev/null | grep -E 'libsystemd|libelogind' >"$out/systemd-left.txt"
  mkdir -p /home/rig /usr/local/bin
  chown 1000:1000 /home/rig
  sed -i 's|^rig:x:1000:1000:rig:/tmp:|rig:x:1000:1000:rig:/home/rig:|' /etc/passwd
  mount --bind /usr /usr && mount -o remount,bind,ro /usr || echo "@@rig fatal /usr read-only"
  (cd /tmp && tar -xzf /rig/tarball/oskel-update-*-linux-x86_64.tar.gz) || echo "@@rig fatal the tarball"
  dir=$(ls -d /tmp/oskel-update-*-linux-x86_64)
  ls "$dir" >"$out/tarball.txt"
  plug_checked early 2563:1818
  cp "$out/early/node.txt" "$out/early/node-before.txt"
  tree_state "$out/state-before.txt"

  mount --bind /etc /etc && mount -o remount,bind,ro /etc || echo "@@rig fatal /etc read-only"
  as_root refused-etc "$bin/env" SUDO_USER=rig "$dir/install.sh"
  finish refused-etc
  umount /etc
  mkdir -p /run/no-udev
  for applet in $(busybox --list); do ln -sf /bin/busybox "/run/no-udev/$applet"; done
  as_root refused-udev "$bin/env" PATH=/run/no-udev SUDO_USER=rig "$dir/install.sh"
  finish refused-udev
  tree_state "$out/state-refused.txt"

  as_root install "$bin/env" SUDO_USER=rig "$dir/install.sh"
  finish install
  tree_state "$out/state-installed.txt"
  check_node early "$(node_name early)"
  as_root install-again "$bin/env" SUDO_USER=rig "$dir/install.sh"
  finish install-again
  tree_state "$out/state-again.txt"

  as_user start /home/rig/.local/bin/oskel-update
  finish start
  unplug early
  as_user arrival /home/rig/.local/bin/oskel-update --wait --once
  wait_waiting
  plug_checked mode1 2563:0059
  finish arrival
  # The node as the program left it: usbhid has the interface again.
  check_node mode1 "$(node_of 2563:0059)"
  unplug mode1
  # Without libusb: nothing said at the start; when a mode-1 controller comes, that it needs it.
  find / -xdev -name 'libusb-1.0.so*' -exec rm -f {} + 2>/dev/null
  as_user no-libusb /home/rig/.local/bin/oskel-update --wait --once
  wait_waiting
  cp "$out/no-libusb.stderr" "$out/no-libusb-waiting.stderr"
  plug mode1-no-libusb 2563:0059
  finish no-libusb
  unplug mode1-no-libusb

  mkdir -p /etc/atomic-update.conf.d
  echo ID=steamos >/etc/os-release
  as_root steamos "$bin/env" SUDO_USER=rig "$dir/install.sh"
  finish steamos
  cp /etc/atomic-update.conf.d/oskel-update.conf "$out/keep-list.txt" 2>/dev/null
  plug_checked late 2563:1818
  as_root uninstall "$bin/env" SUDO_USER=rig "$dir/install.sh" --uninstall
  finish uninstall
  check_node late "$(node_name late)"
  unplug late
  rm -rf /etc/atomic-update.conf.d /etc/os-release
  tree_state "$out/state-uninstalled.txt"
  umount /usr
}

# The rpm's and the Arch package's payloads with their scripts, as rpm and pacman install them,
# with controllers plugged in before: the rpm's files and %post, a download of mode 2 by the user;
# the rpm removed (its files, then %postun); the Arch package's files and post_install, a download
# of mode 3.
scenario_packages_install() {
  local file
  no_rig_program
  plug_checked mode2 2563:1818
  plug_checked mode3 0461:4d81
  plug_checked mode1 2563:0059
  for name in mode2 mode3 mode1; do cp "$out/$name/node.txt" "$out/$name/node-before.txt"; done

  cp -a /rig/packages/rpm/payload/. /
  sh /rig/packages/rpm/post 1 >"$out/rpm-post.out" 2>&1
  echo $? >"$out/rpm-post.exit"
  for name in mode2 mode3 mode1; do check_node $name "$(node_name $name)"; cp "$out/$name/node.txt" "$out/$name/node-rpm.txt"; done
  as_user rpm-start /usr/bin/oskel-update --device=2563:1818
  finish rpm-start
  while read -r file; do [ -d "$file" ] || rm -f "$file"; done </rig/packages/rpm/files.txt
  sh /rig/packages/rpm/postun 0 >"$out/rpm-postun.out" 2>&1
  echo $? >"$out/rpm-postun.exit"
  ls /usr/bin/oskel-update /usr/lib/udev/rules.d/70-oskel-update.rules >"$out/rpm-left.txt" 2>/dev/null
  check_node mode3 "$(node_name mode3)"
  cp "$out/mode3/node.txt" "$out/mode3/node-rpm-removed.txt"

  cp -a /rig/packages/arch/payload/. /
  sh -c '. /rig/packages/arch/install && post_install "$1"' arch-install 1 >"$out/arch-post.out" 2>&1
  echo $? >"$out/arch-post.exit"
  check_node mode3 "$(node_name mode3)"
  as_user arch-start /usr/bin/oskel-update --device=0461:4d81
  finish arch-start
  for name in mode2 mode3 mode1; do unplug $name; done
}

# ---- What is held during a download: elogind, polkit's defaults, the desktop portal ----

# A system bus with Debian's elogind, which answers the program as logind does, and the stand-in
# for polkit, which answers elogind by logind's own policy: the user "rig" is the one at the seat
# (allow_active), "guest" a remote login (allow_any). elogind's InhibitDelayMaxSec is logind's
# default, 5 s. Its sleep ends in a write to /sys/power/state, which this machine cannot enter
# with a USB/IP controller attached (vhci-hcd refuses to suspend): a file of the same text takes
# the write, and a hook in elogind's system-sleep folder records, in /run/out/elogind/sleep.txt,
# when the system went to sleep ("pre") and came back ("post"), in the machine's uptime, and the
# locks held then (who:mode:what).
start_elogind() {
  mkdir -p "$out/elogind" /run/systemd /etc/elogind /lib/elogind/system-sleep
  [ -x /lib/elogind/elogind ] && [ -x "$bin/oskel-fake-polkit" ] || { echo "no elogind" >"$out/elogind/missing"; return 1; }
  start_system_bus || return 1
  "$bin/oskel-fake-polkit" /usr/share/polkit-1/actions/org.freedesktop.login1.policy 1000 "$out/elogind/polkit.txt" \
    >"$out/elogind/polkit.stdout" 2>"$out/elogind/polkit.stderr" &
  echo $! >/run/polkit.pid
  await_line "$out/elogind/polkit.stdout" ready "the stand-in for polkit did not start" || return 1
  printf '[Login]\nInhibitDelayMaxSec=5\n' >/etc/elogind/logind.conf
  cp /sys/power/state /run/power-state
  mount --bind /run/power-state /sys/power/state
  # elogind runs the hook and waits for it, so the hook reads elogind's own record of the locks
  # held at that moment (/run/systemd/inhibit/ID; ID.ref beside it is the lock's pipe) rather
  # than asking it on the bus.
  # The sleep itself lasts a second: the controllers mark how many reports had reached them at its
  # start and at its end (SIGUSR1, marks.txt).
  cat >/lib/elogind/system-sleep/oskel-rig <<'HOOK'
#!/bin/sh
read -r up _ </proc/uptime
held=$(for lock in /run/systemd/inhibit/*; do
  [ -f "$lock" ] && echo "$(sed -n 's/^WHO=//p' "$lock"):$(sed -n 's/^MODE=//p' "$lock"):$(sed -n 's/^WHAT=//p' "$lock")"
done | sort | tr '\n' ',')
echo "$1 $2 uptime=$up held=$held" >>/run/out/elogind/sleep.txt
if [ "$1" = pre ]; then
  kill -USR1 $(pidof oskel-usbip-rig oskel-uhid-rig) 2>/dev/null
  usleep 1000000
  kill -USR1 $(pidof oskel-usbip-rig oskel-uhid-rig) 2>/dev/null
fi
HOOK
  chmod 755 /lib/elogind/system-sleep/oskel-rig
  mount -t tmpfs cgroup /sys/fs/cgroup 2>/dev/null
  /lib/elogind/elogind >"$out/elogind/elogind.stdout" 2>"$out/elogind/elogind.stderr" &
  echo $! >/run/elogind.pid
  local tries=0
  until busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager ListInhibitors \
    >/dev/null 2>&1; do
    [ $tries -lt 100 ] || { echo "@@rig fatal elogind does not answer"; return 1; }
    usleep 100000
    tries=$((tries + 1))
  done
}

# The session bus of the user at the seat ($XDG_RUNTIME_DIR/bus, as a desktop session has it) with
# the stand-in for the desktop portal, which records what it is asked in /run/out/portal.txt.
start_portal() {
  mkdir -p /run/user/1000
  chown rig:rig /run/user/1000
  chmod 700 /run/user/1000
  cat >/run/dbus/session.conf <<'CONF'
<busconfig>
  <type>session</type>
  <listen>unix:path=/run/user/1000/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  su -s /bin/sh -c 'exec dbus-daemon --config-file=/run/dbus/session.conf --fork --nopidfile' rig \
    2>"$out/portal.dbus.stderr" || return 1
  touch "$out/portal.txt"
  chown rig:rig "$out/portal.txt"
  su -s /bin/sh -c "XDG_RUNTIME_DIR=/run/user/1000 exec $bin/oskel-fake-portal $out/portal.txt" rig \
    >"$out/portal.stdout" 2>"$out/portal.stderr" &
  echo $! >/run/portal.pid
  await_line "$out/portal.stdout" ready "the stand-in for the portal did not start"
}

# as_seat_user NAME PROGRAM [ARGUMENTS]: as_user, in the seat user's desktop session (its
# XDG_RUNTIME_DIR, so its session bus).
as_seat_user() {
  local name=$1
  shift
  as_user "$name" "$bin/env" XDG_RUNTIME_DIR=/run/user/1000 "$@"
}

logind_call() { busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager "$@"; }

# elogind's own answers, once, without the program: the user at the seat holds a block lock of
# its own (elogind-inhibit) and asks whether it may suspend, then suspends, and the sleep goes
# ahead past the lock; a block lock of another user (root) stops the same call. In
# /run/out/elogind/answers.txt and sleep-answers.txt.
elogind_answers() {
  local answers=$out/elogind/answers.txt
  {
    echo "delay: $(busctl get-property org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager InhibitDelayMaxUSec)"
    su -s /bin/sh -c 'exec elogind-inhibit --what=sleep --mode=block --who=own-lock --why=check sleep 30' rig &
    local own=$!
    usleep 500000
    echo "inhibitors: $(logind_call ListInhibitors)"
    echo "can-suspend: $(su -s /bin/sh -c 'exec busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager CanSuspend' rig)"
    echo "suspend: $(su -s /bin/sh -c 'exec busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager Suspend b false' rig 2>&1)"
    wait_for_line "$out/elogind/sleep.txt" '^post'
    echo "slept with the own lock held: $(kill -0 $own 2>/dev/null && echo yes || echo no)"
    kill $own
    wait $own
    elogind-inhibit --what=sleep --mode=block --who=other-lock --why=check sleep 30 &
    local other=$!
    usleep 500000
    echo "can-suspend-other: $(su -s /bin/sh -c 'exec busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager CanSuspend' rig)"
    echo "suspend-other: $(su -s /bin/sh -c 'exec busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager Suspend b false' rig 2>&1)"
    kill $other
    wait $other
  } >"$answers" 2>&1
  mv "$out/elogind/sleep.txt" "$out/elogind/sleep-answers.txt" 2>/dev/null
}

# The user at the seat suspends, as its desktop does for the lid, the Suspend menu or Steam's
# sleep: SUSPENDER's call to logind.
seat_user_suspends() {
  as_user "$1" busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager Suspend b false
  finish "$1"
}

# wait_for_rest_after FILE MARK GIVE_UP_FILE REST_MS: until the download whose progress lines FILE
# shows after its line MARK (the outcome of the download before) has, at its pace since the first
# of them, no more than REST_MS left (judged once it has moved 30 % or more), at most
# program_limit_s, or until GIVE_UP_FILE exists. The pace is the download's own, so that a slow
# machine asks as near the end, in time, as a quick one: a fixed percentage leaves less time than
# a suspend takes to reach the program when the machine is busy.
wait_for_rest_after() {
  local tries=0 percent now first_ms='' first_percent=''
  while [ $tries -lt $((program_limit_s * 50)) ] && [ ! -e "$3" ]; do
    percent=$(sed -n "/^$2\$/,\$s/^progress \([0-9]*\)%\$/\1/p" "$1" 2>/dev/null | tail -n 1)
    if [ -n "$percent" ]; then
      now=$(now_ms)
      if [ -z "$first_ms" ]; then
        first_ms=$now first_percent=$percent
      elif [ "$percent" -ge $((first_percent + 30)) ] &&
        [ $(((now - first_ms) * (100 - percent) / (percent - first_percent))) -le "$4" ]; then
        return 0
      fi
    fi
    usleep 20000
    tries=$((tries + 1))
  done
  return 1
}

# The seat user suspends mid-download (mode 3, some 3400 acknowledged reports): the program, which
# holds logind's block and delay locks and the portal's inhibition, cannot finish in logind's 5 s,
# so it ends the transfer at a report boundary, says why and lets the sleep go ahead; after the
# resume it downloads again (--wait), and when the user suspends once more near that download's
# end, what is left fits and the download finishes first.
scenario_sleep_mid_download() {
  start_elogind || return
  start_portal || return
  elogind_answers
  plug_checked controller 0461:4d81
  as_seat_user program "$bin/oskel-update" --wait --once
  wait_for_line "$out/program.stdout" '^progress [1-9]' "$out/program.exit"
  logind_call ListInhibitors >"$out/elogind/inhibitors-during.txt" 2>&1
  seat_user_suspends suspend-mid
  wait_for_line "$out/elogind/sleep.txt" '^post' "$out/program.exit"
  # The second suspend when some 3 s are left: less than logind's 5 s less the program's second.
  wait_for_rest_after "$out/program.stdout" 'Download Failture!' "$out/program.exit" 3000
  seat_user_suspends suspend-near-end
  finish program
  # The controller stays plugged in until the second sleep is over.
  local tries=0
  while [ "$(grep -c '^post' "$out/elogind/sleep.txt")" -lt 2 ] && [ $tries -lt 100 ]; do
    usleep 100000
    tries=$((tries + 1))
  done
  unplug controller
}

# Where a lock cannot be had, the program says what is not held and why, and downloads all the
# same (mode 2, 4 ms per report): a remote login, whose block locks polkit refuses by logind's
# policy (only the delay lock is left); no session bus; no system bus; a system bus without logind.
scenario_held_refused() {
  start_elogind || return
  plug_checked controller 2563:1818 --latency 4
  chmod 666 "$(node_path controller)"
  run_as guest remote "$bin/oskel-update"
  wait_for_line "$out/remote.stdout" '^progress [1-9]' "$out/remote.exit"
  logind_call ListInhibitors >"$out/elogind/inhibitors-remote.txt" 2>&1
  finish remote
  as_user no-system-bus "$bin/env" DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/no-bus "$bin/oskel-update"
  finish no-system-bus
  kill "$(cat /run/elogind.pid)"
  wait "$(cat /run/elogind.pid)" 2>/dev/null
  as_user no-logind "$bin/oskel-update"
  finish no-logind
  unplug controller
}

# Mode 1 (10 ms per report, some 10 s): the sleep stops the download between two reports, the
# controller's interface goes back to usbhid before the sleep, and after the resume the node that
# came back is downloaded to (--wait): the road that gives the interface back and takes the
# controller again.
scenario_sleep_mode1() {
  start_elogind || return
  plug controller 2563:0059 --latency 10
  as_user program "$bin/oskel-update" --wait --once
  wait_for_line "$out/program.stdout" '^progress [1-9]' "$out/program.exit"
  seat_user_suspends suspend
  finish program
  give_back_check controller
  unplug controller
}
