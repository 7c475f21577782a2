# What each scenario must have left (test rig only; sourced by run_scenario.sh, which sets
# image1..image3, sim and compare). A download ends with the flash equal to the image and no
# protocol error, and the program's capture and usbmon's record of it conform and agree; a
# failed one ends within the updater's time limits.

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok   $what"
  else
    failed=$((failed + 1))
    echo "FAIL $what"
  fi
}

# The updater's limits (protocol/time_limits.h): a failed download has waited for at most two
# replies (the one that never came and the end report's); the margin is the program's start,
# search and end in the emulated machine, which another machine's work may slow down.
reply_limit_ms=$(sed -n 's/.*kReplyReadLimitMs = \([0-9]*\);.*/\1/p' "$here/../../../protocol/time_limits.h")
failure_limit_ms=$((2 * reply_limit_ms + 6000))

field() { sed -n "1s/.* $2=\([0-9]*\).*/\1/p; 1s/^$2=\([0-9]*\).*/\1/p" "$1/status.txt" 2>/dev/null; }
value() { sed -n "s/^$2=//p" "$1" 2>/dev/null; }
equals() { [[ "$1" == "$2" ]]; }
below() { [[ -n $1 && $1 -lt $2 ]]; }
contains_line() { grep -qxF -- "$2" "$1" 2>/dev/null; }
has_no() { ! grep -qF -- "$2" "$1" 2>/dev/null; }

# The span of the flash that each mode's download fills with the image (as the Wine rig checks).
span_of_mode() {
  case $1 in
  1) echo "2560 32767" ;;   # 0x0A00 up to the last byte, which stays erased
  2) echo "0 30744" ;;      # the 549 data reports of 56 bytes
  3) echo "0 $(stat -c %s "$image3")" ;;
  esac
}

# same_bytes FLASH IMAGE FROM TO
same_bytes() {
  local count=$(($4 - $3))
  [[ -f $1 && $(stat -c %s "$1") -ge $4 ]] &&
    cmp -s <(tail -c +$(($3 + 1)) "$1" | head -c $count) <(tail -c +$(($3 + 1)) "$2" | head -c $count)
}

image_of_mode() { case $1 in 1) echo "$image1" ;; 2) echo "$image2" ;; 3) echo "$image3" ;; esac; }
ids_of_mode() { case $1 in 1) echo 2563:0059 ;; 2) echo 2563:1818 ;; 3) echo 0461:4d81 ;; esac; }

# expect_conforming CAPTURE MODE WHO WHAT: oskel-sim's check of the capture (CAPTURE-check.txt
# beside it) exits with 0, it conforms to that mode's protocol, and notes that the flash it wrote
# equals the image.
expect_conforming() {
  local report=${1%.pcapng}-check.txt status=0
  "$sim" --check-capture "$1" --device "$(ids_of_mode "$2")" --image "$(image_of_mode "$2")" >"$report" 2>&1 ||
    status=$?
  check "$3: $4 conforms to protocol $2 (oskel-sim --check-capture exits with $status)" equals "$status" 0
  check "$3: the flash it wrote equals the image" grep -q "flash: equal to the image" "$report"
}

# expect_capture OUT MODE: the program's capture of the download, as the kernel's HID stack
# carried it, is that mode's protocol report by report and wrote the image.
expect_capture() { expect_conforming "$1/capture.pcapng" "$2" program "its capture"; }

# expect_kernel_capture OUT MODE: usbmon's record of the bus lost no event, is that mode's
# protocol report by report, wrote the image, and holds the same report transfers as the
# program's own capture (a controller on uhid has no bus to record).
expect_kernel_capture() {
  [[ $(cat "$1/bus.txt" 2>/dev/null) == usb ]] || return 0
  expect_conforming "$1/usbmon.pcapng" "$2" usbmon "the kernel's record"
  expect_same_transfers "$1" "$2"
}

# expect_same_transfers OUT MODE: usbmon's record of the bus lost no event and holds the same
# report transfers, with the same outcomes, as the program's own capture (a failed download's
# too: the refused, the cancelled and the unplugged transfer among them).
expect_same_transfers() {
  [[ $(cat "$1/bus.txt" 2>/dev/null) == usb ]] || return 0
  local comparison=$1/usbmon-compare.txt
  check "usbmon: the record lost no event ($(tail -1 "$1/usbmon.stdout" 2>/dev/null))" equals "$(cat "$1/usbmon.exit" 2>/dev/null)" 0
  [[ -f $1/capture.pcapng ]] || return 0
  "$compare" "$1/capture.pcapng" "$1/usbmon.pcapng" --device "$(ids_of_mode "$2")" >"$comparison" 2>&1 || true
  check "usbmon: the program's capture holds the same transfers ($(tail -1 "$comparison"))" grep -q "^same " "$comparison"
}

# The kernel and udev took the controller: hid-core holds its descriptor, hid-generic drives it
# over usbhid (on USB) or uhid (no USB device beneath it), the project's rule tagged its node
# "uaccess", and so the user got it.
expect_node() {
  local node=$1/node.txt transport=none
  [[ $(cat "$1/bus.txt" 2>/dev/null) == usb ]] && transport=usbhid
  check "$2: hid-core took the report descriptor of the model's collections" equals "$(value "$node" descriptor)" same
  check "$2: hid-generic drives it" equals "$(value "$node" driver)" hid-generic
  check "$2: its transport is $transport" equals "$(value "$node" transport)" "$transport"
  check "$2: the project's rule tagged its node uaccess" grep -q ':uaccess:' <<<"$(value "$node" tags)"
  check "$2: the test-only access rule gave the node to the user" equals "$(value "$node" owner)" 1000
}

# expect_download CONTROLLER MODE: a whole download, the image in the flash, no protocol error.
expect_download() {
  local span name
  span=$(span_of_mode "$2")
  name=$(basename "$1")
  check "$name: the controller received a whole download" equals "$(field "$1" complete)" 1
  check "$name: no protocol error" equals "$(field "$1" protocol-errors)" 0
  check "$name: no report that its collection does not declare" equals "$(field "$1" stack-refusals)" 0
  check "$name: the flash holds the image" same_bytes "$1/flash.bin" "$(image_of_mode "$2")" $span
}

# expect_outcome PROGRAM EXIT BOX: the exit status, and on standard output the box's text once
# with nothing else but progress lines.
expect_outcome() {
  local stdout=$1.stdout others
  check "$(basename "$1") exits with $2" equals "$(cat "$1.exit" 2>/dev/null)" "$2"
  check "$(basename "$1") shows \"$3\"" equals "$(grep -cxF -- "$3" "$stdout")" 1
  others=$(grep -vxF -- "$3" "$stdout" | grep -v '^progress ' || true)
  check "$(basename "$1") prints nothing else but progress lines" equals "$others" ""
  check "$(basename "$1"): each line on standard error carries the program's name" \
    equals "$(program_lines "$1.stderr" | grep -vc '^oskel-update: ')" 0
}

# program_lines STDERR: the lines of a program's standard error, without the line in which the
# shell that ran it tells of the signal that ended it ("Terminated").
program_lines() { grep -vxE 'Terminated|Quit|Interrupt|Hangup' "$1" 2>/dev/null; }

# Where a uhid controller served: uhid's queue never ran full, so it dropped no output report.
expect_no_dropped_reports() {
  cat "$1"/bus.txt "$1"/*/bus.txt 2>/dev/null | grep -qx uhid || return 0
  check "uhid dropped no output report (its queue never ran full)" has_no "$1/dmesg.txt" "Output queue is full"
}

expect_failure_in_time() {
  expect_outcome "$1" 1 "Download Failture!"
  check "$(basename "$1") ends within the time limits ($(cat "$1.ms" 2>/dev/null) ms, at most $failure_limit_ms)" \
    below "$(cat "$1.ms" 2>/dev/null)" "$failure_limit_ms"
}

# ---- The program's own scenarios (tests/oskel_update/) ----

# expect_normal_left_alone PROGRAM CONTROLLER: the controller in its normal mode was found and
# named without access to its node (the rules do not give it), no advice about access, nothing sent.
expect_normal_left_alone() {
  check "$(basename "$2"): the rules leave a controller in its normal mode root's" \
    equals "$(value "$2/node.txt" owner)/$(grep -c uaccess "$2/node.txt")" 0/0
  check "$(basename "$1") names the controller in its normal mode" \
    grep -q "^oskel-update: a supported controller in its normal mode (045e:028e) is left alone" "$1.stderr"
  check "$(basename "$1") gives no access advice for it" has_no "$1.stderr" "udev"
  check "nothing was sent to $(basename "$2")" equals "$(field "$2" reports)/$(field "$2" replies)" 0/0
}

# expect_list_json OUT: --list --json printed one JSON document (perl's JSON::PP decodes it, UTF-8
# checked) of the two controllers: the one on USB, which the user may open, and the one off USB
# with mode 2's ids, its name as the device gave it (the byte that is no UTF-8 as U+FFFD), which the
# user may not open, and why.
expect_list_json() {
  local dump=$1/list-json.txt usb_node=/dev/$(value "$1/controller/node.txt" node)
  local other_node=/dev/$(value "$1/bluetooth/node.txt" node) name
  check "--list --json exits with 0" equals "$(cat "$1/list-json.exit" 2>/dev/null)" 0
  perl -MJSON::PP -e 'local $/; my $d = JSON::PP->new->utf8->decode(<STDIN>); binmode STDOUT, ":utf8";
    for my $c (@{$d->{controllers}}) {
      print join("|", map { my $v = $c->{$_}; !defined $v ? "null" : ref($v) eq "JSON::PP::Boolean" ? ($v ? "true" : "false") : $v }
        qw(node ids name state mode may_open refused_node why_not)), "\n";
    }' <"$1/list-json.stdout" >"$dump" 2>"$dump.error"
  check "--list --json: one JSON document ($(cat "$dump.error"))" test ! -s "$dump.error"
  check "--list --json: two controllers" equals "$(wc -l <"$dump")" 2
  check "--list --json: the controller on USB, in mode 2, which the user may open" \
    grep -qxF "$usb_node|2563:1818|Oskel rig Oskel rig controller 2563:1818|update mode|2|true|null|null" "$dump"
  name=$(printf 'Pad "Q" \\ \t\303\251\357\277\275')
  check "--list --json: the device off USB, its name escaped, refused as not on USB" grep -qxF \
    "$other_node|2563:1818|$name|update mode|2|false|$other_node|the udev rules give the controllers on USB only, and this device is not on USB" \
    "$dump"
}

# The locks that the stand-in for logind recorded: the keys and the lid switch with sleep and
# shutdown, blocked, and sleep and shutdown delayed, each on its own; all taken before the first
# report and let go after the last.
expect_inhibitor() {
  local record=$1/logind/inhibitors.txt timing=$2/timing.txt taken released
  check "the stand-in for logind ran on a system bus" test ! -e "$1/logind/missing"
  check "the program took three locks: $(sed -n 's/^taken-us=[0-9]* //p' "$record" 2>/dev/null | tr '\n' ';')" equals \
    "$(sed -n 's/^taken-us=[0-9]* //p' "$record" 2>/dev/null | tr '\n' ';')" \
    "what=sleep:shutdown:handle-lid-switch:handle-power-key:handle-suspend-key:handle-hibernate-key who=oskel-update mode=block;what=sleep who=oskel-update mode=delay;what=shutdown who=oskel-update mode=delay;"
  taken=$(sed -n 's/^taken-us=\([0-9]*\).*/\1/p' "$record" 2>/dev/null | tail -n 1)
  released=$(sed -n 's/^released-us=\([0-9]*\).*/\1/p' "$record" 2>/dev/null | head -n 1)
  check "all three were let go" equals "$(grep -c '^released-us=' "$record" 2>/dev/null)" 3
  check "they were taken before the first report reached the controller" \
    below "$taken" "$(sed -n 's/.*first-report-us=\([0-9]*\).*/\1/p' "$timing")"
  check "they were let go after the last report reached the controller" \
    below "$(sed -n 's/.*last-report-us=\([0-9]*\).*/\1/p' "$timing")" "$released"
}

# expect_usb_node_access CONTROLLER MODE: on USB, the rules give mode 1's USB device node to the
# user (its class requests go through it) and leave the others' root's.
expect_usb_node_access() {
  [[ $(cat "$1/bus.txt" 2>/dev/null) == usb ]] || return 0
  local node=$1/node.txt
  if [[ $2 == 1 ]]; then
    check "$(basename "$1"): the project's rule gave mode 1's USB device node to the user" \
      equals "$(value "$node" usb_owner)/$(value "$node" usb_tags | grep -c ':uaccess:')" 1000/1
  else
    check "$(basename "$1"): the rules leave mode $2's USB device node root's" \
      equals "$(value "$node" usb_owner)/$(value "$node" usb_tags | grep -c ':uaccess:')" 0/0
  fi
}

# expect_given_back CONTROLLER: once the program let the controller go, usbhid drives its
# interface again and its node is the user's.
expect_given_back() {
  check "$(basename "$1"): usbhid has the interface again" equals "$(value "$1/node.txt" transport)" usbhid
  check "$(basename "$1"): its node, made anew, is the user's" equals "$(value "$1/node.txt" owner)" 1000
}

# A program killed in mode 1's download: the interface is left without a driver, which --list
# and --wait give back (and name a controller whose USB device node the user may not open, to be
# replugged); the download then completes.
expect_give_back_killed() {
  local out=$1 given="the controller 2563:0059 (update mode 1) at /dev/bus/usb/[0-9]*/[0-9]* was left without its driver, as by an interrupted download: giving the controller back to the system"
  local kill
  for kill in after-kill after-third-kill; do
    check "killed: after the SIGKILL ($kill), the interface has no driver and no node" \
      equals "$(tr '\n' ' ' <"$out/controller-killed/$kill.txt" 2>/dev/null)" "driver=none hidraw=none "
  done
  check "controller-unbound: usbhid was unbound from mode 2's interface" \
    equals "$(tr '\n' ' ' <"$out/controller-unbound/unbound.txt" 2>/dev/null)" "driver=none hidraw=none "
  check "--list exits with 0" equals "$(cat "$out/list-killed.exit" 2>/dev/null)" 0
  check "--list names the controller left without its driver and gives it back" \
    grep -q "^oskel-update: $given$" "$out/list-killed.stderr"
  check "--list lists it, given back, which the user may open" \
    grep -qE "^/dev/hidraw[0-9]+ +2563:0059  update mode 1 +may open$" "$out/list-killed.stdout"
  check "--list says to replug mode 2's controller, whose USB device node the user may not open" \
    grep -q "^oskel-update: the controller 2563:1818 (update mode 2) could not be given back to the system (cannot open /dev/bus/usb/[0-9]*/[0-9]*: Permission denied): unplug it and plug it in again$" \
    "$out/list-killed.stderr"
  check "Start after the second SIGKILL gives the controller back" grep -q "^oskel-update: $given$" "$out/start-killed.stderr"
  check "Start: usbhid has the interface again, with a node" \
    grep -qx "driver=usbhid hidraw=hidraw[0-9]* " <<<"$(tr '\n' ' ' <"$out/controller-killed/after-start.txt" 2>/dev/null)"
  check "--wait --once after the third SIGKILL gives the controller back" grep -q "^oskel-update: $given$" "$out/after-kill.stderr"
  expect_outcome "$out/after-kill" 0 "Download Successful!"
  check "controller-killed: four downloads began (four identify replies), the last one whole" \
    equals "$(field "$out/controller-killed" replies)" 4
  expect_download "$out/controller-killed" 1
  expect_given_back "$out/controller-killed"
}

# time_of NAME: when the silent scenario saw NAME (ms of uptime).
time_of() { value "$1/silent-times.txt" "$2"; }

# A controller that answers nothing: the outcome first, at the reply's limit, then the line of the
# give-back, which waits for usbhid's probe; then that the controller must be replugged; a SIGINT
# during the give-back is not held off as if a download ran.
expect_give_back_silent() {
  local out=$1 plugged outcome giving ended
  plugged=$(time_of "$out" plugged) outcome=$(time_of "$out" outcome) giving=$(time_of "$out" giving)
  ended=$(time_of "$out" ended)
  check "silent: the controller is not recognised, the download failed, nothing else is on standard output" \
    equals "$(grep -v '^progress' "$out/silent.stdout" | tr '\n' '/')" "无法识别的设备/Download Failture!/"
  check "silent: its outcome was shown within the limits ($((outcome - plugged)) ms after the plug, at most $failure_limit_ms)" \
    below "$((outcome - plugged))" "$failure_limit_ms"
  check "silent: then \"giving the controller back to the system\" ($((giving - outcome)) ms after the outcome)" \
    below "$((outcome - 1))" "$((giving + 200))"
  check "silent: the give-back went on after the outcome ($((ended - outcome)) ms until the program ended)" \
    below 5000 "$((ended - outcome))"
  check "silent: it says to unplug the controller and plug it in again" \
    grep -q "^oskel-update: the controller 2563:0059 (update mode 1) could not be given back to the system (.*): unplug it and plug it in again$" \
    "$out/silent.stderr"
  check "silent: the SIGINT during the give-back was not held off as if a download ran" has_no "$out/silent.stderr" "held off"
  check "silent: the program ended once the give-back had failed, not before" \
    below "$(($(time_of "$out" not-given-back) - 200))" "$ended"
  check "controller-silent: its interface has no driver, as the program said" \
    grep -q "^driver=none" "$out/controller-silent/after.txt"
}

expect_own_scenario() {
  local what=$1 out=$2 signal
  case $what in
  protocol1-give-back)
    expect_failure_in_time "$out/refused"
    check "refused: the controller refused report 100, the last it saw" \
      equals "$(field "$out/controller-refused" reports)/$(field "$out/controller-refused" accepted)" 100/99
    expect_given_back "$out/controller-refused"
    check "unidentified exits with 1" equals "$(cat "$out/unidentified.exit" 2>/dev/null)" 1
    check "unidentified: the controller is not recognised, the download failed" \
      equals "$(grep -v '^progress' "$out/unidentified.stdout" | tr '\n' '/')" "无法识别的设备/Download Failture!/"
    check "unidentified: the controller took the identify command only" \
      equals "$(field "$out/controller-unidentified" reports)/$(field "$out/controller-unidentified" complete)" 1/0
    expect_given_back "$out/controller-unidentified"
    # Ended by SIGTERM once the download had ended: by SIGTERM itself (143 in the shell).
    expect_outcome "$out/signal" 143 "Download Successful!"
    check "signal: SIGTERM was held off during the download" grep -q "^oskel-update: SIGTERM held off" "$out/signal.stderr"
    expect_download "$out/controller-signal" 1
    expect_given_back "$out/controller-signal"
    check "unplugged: the program, ended by SIGTERM, ended by it (143)" equals "$(cat "$out/unplugged.exit" 2>/dev/null)" 143
    check "unplugged: it said how many downloads ran and how they ended" \
      grep -qx "oskel-update: ended by SIGTERM: 2 downloads ran: 1 succeeded, 1 failed" "$out/unplugged.stderr"
    check "unplugged: it showed the failure, then the success" \
      equals "$(grep -v '^progress' "$out/unplugged.stdout" | tr '\n' '/')" "Download Failture!/Download Successful!/"
    check "unplugged: the controller took 100 reports" equals "$(field "$out/controller-unplugged" accepted)" 100
    expect_download "$out/controller-after-unplug" 1
    expect_given_back "$out/controller-after-unplug"
    ;;
  protocol1-interrupted)
    expect_give_back_killed "$out"
    expect_give_back_silent "$out"
    ;;
  normal-then-update)
    local node
    check "--list exits with 0" equals "$(cat "$out/list.exit" 2>/dev/null)" 0
    check "--list names the normal-mode controller, which needs no access" grep -qE \
      "^/dev/$(value "$out/normal/node.txt" node) +045e:028e  normal mode +may not open: not needed" "$out/list.stdout"
    check "--list names mode 2, which the user may open" grep -qE \
      "^/dev/$(value "$out/mode2/node.txt" node) +2563:1818  update mode 2 +may open$" "$out/list.stdout"
    check "--list lists three controllers" equals "$(wc -l <"$out/list.stdout")" 3
    expect_outcome "$out/program" 0 "Download Successful!"
    node=/dev/$(value "$out/mode3/node.txt" node)
    check "Start names the controller in mode 3 that it left, with the command that updates it" grep -qxF \
      "oskel-update: the controller 0461:4d81 ($node) in update mode 3 was not updated: Start updates one controller; 'oskel-update --device=$node' updates it" \
      "$out/program.stderr"
    check "Start names no other controller (not the one it wrote)" equals "$(grep -c 'was not updated' "$out/program.stderr")" 1
    expect_outcome "$out/next" 0 "Download Successful!"
    expect_download "$out/mode3" 3
    expect_normal_left_alone "$out/program" "$out/normal"
    expect_download "$out/mode2" 2
    expect_capture "$out" 2
    check "--list --device=NODE lists that controller only" equals "$(cut -d' ' -f1 "$out/list-chosen.stdout")" \
      "/dev/$(value "$out/mode2/node.txt" node)"
    check "--device=045e:028e: Start finds no update mode (exit 3)" equals "$(cat "$out/chosen.exit" 2>/dev/null)" 3
    check "--device=045e:028e: it names the controller chosen" \
      grep -q "a supported controller in its normal mode (045e:028e)" "$out/chosen.stderr"
    check "mode 2 was written once (550 reports)" equals "$(field "$out/mode2" reports)" 550
    ;;
  held-signals)
    # The first of the ending signals, SIGQUIT, ends it once the download has ended (131).
    expect_outcome "$out/program" 131 "Download Successful!"
    expect_download "$out/controller" 2
    for signal in SIGQUIT SIGTSTP SIGINT; do
      check "$signal was held off during the download" grep -q "^oskel-update: $signal held off until the download has ended" \
        "$out/program.stderr"
    done
    check "SIGHUP, which the caller ignored, stayed ignored" has_no "$out/program.stderr" SIGHUP
    check "the program says that the desktop's inhibition is not held (no session bus here)" \
      grep -q "^oskel-update: not held during the download: the desktop's suspend and logout (no session bus" \
      "$out/program.stderr"
    check "nothing else was held off or told" \
      equals "$(program_lines "$out/program.stderr" | grep -v 'held off until the download has ended' | grep -vc 'not held during the download: the desktop')" 0
    check "the program stopped for SIGTSTP once the download had ended" \
      grep -qx "stdout: Download Successful!" "$out/stopped.txt"
    check "it was stopped ($(head -n 1 "$out/stopped.txt"))" grep -q '^State:.*T' "$out/stopped.txt"
    expect_inhibitor "$out" "$out/controller"
    ;;
  access)
    check "controller: a node the rules did not reach is untagged and root's" \
      equals "$(value "$out/controller/node-before.txt" owner)/$(grep -c uaccess "$out/controller/node-before.txt")" 0/0
    check "without the rules: exit 1" equals "$(cat "$out/no-rules.exit" 2>/dev/null)" 1
    check "without the rules: the advice says they are not installed" \
      grep -q "the udev rules (70-oskel-update.rules) are not installed: install" "$out/no-rules.stderr"
    check "rules installed, not applied: --list says so" \
      grep -qE "2563:1818  update mode 2 +may not open /dev/[a-z0-9]*: the udev rules are installed but not applied" \
      "$out/not-applied.stdout"
    check "the package's postinst exits with 0" equals "$(cat "$out/postinst.exit" 2>/dev/null)" 0
    expect_node "$out/controller" "controller after the postinst, not plugged in again"
    check "another user than the seat's: exit 1" equals "$(cat "$out/guest.exit" 2>/dev/null)" 1
    check "another user than the seat's: the advice says so" \
      grep -q "this user is not the user of the active session at the seat" "$out/guest.stderr"
    check "two seats: the controller is at seat1 (ID_SEAT)" grep -qx "ID_SEAT=seat1" "$out/seat1.txt"
    check "guest, active at seat0, not at the controller's seat1: exit 1" equals "$(cat "$out/guest-seat1.exit" 2>/dev/null)" 1
    check "guest, active at seat0, not at the controller's seat1: told it is not the user at the seat" \
      grep -q "^oskel-update: this user is not the user of the active session at the seat" "$out/guest-seat1.stderr"
    check "the controller at seat0 again (no ID_SEAT)" test ! -s "$out/seat0.txt"
    check "guest, active at the controller's seat0 and still refused: told so" \
      grep -q "^oskel-update: the system refuses it although the rules apply to this session" "$out/guest-seat0.stderr"
    check "bluetooth: a device with mode 2's ids off USB: the rules leave its node untagged and root's" \
      equals "$(value "$out/bluetooth/node.txt" owner)/$(value "$out/bluetooth/node.txt" current_tags | grep -c ':uaccess:')" 0/0
    expect_list_json "$out"
    expect_outcome "$out/program" 0 "Download Successful!"
    expect_download "$out/controller" 2
    ;;
  esac
}

# expect_two_programs OUT FIRST SECOND CONTROLLER MODE: of two programs waiting for the
# controller, one downloaded to it; the other started no download and went on waiting until
# SIGTERM ended it.
expect_two_programs() {
  local winner=$3 loser=$2
  if [[ $(cat "$1/$2.exit" 2>/dev/null) == 0 ]]; then winner=$2 loser=$3; fi
  expect_outcome "$1/$winner" 0 "Download Successful!"
  check "$loser goes on waiting after the winner has ended" test -s "$1/still-waiting-$4.txt"
  check "$loser, ended by SIGTERM, exits with 143" equals "$(cat "$1/$loser.exit" 2>/dev/null)" 143
  check "$loser starts no download" has_no "$1/$loser.stdout" "Download"
  # Mode 1's node goes away as soon as the winner takes the interface: the other may find it gone.
  [[ $5 == 1 ]] ||
    check "$loser tells that another program writes the controller" grep -q 'being written by another program' "$1/$loser.stderr"
  expect_download "$1/$4" "$5"
}

expect_scenario() {
  local what=$1 out=$2 mode
  case $what in
  rig)
    expect_node "$out/mode1" mode1
    check "loop1: the bare loop's requests on endpoint 0 went through ($(cat "$out/loop1.stdout" 2>/dev/null))" \
      equals "$(cat "$out/loop1.exit" 2>/dev/null)" 0
    expect_download "$out/mode1" 1
    expect_kernel_capture "$out/mode1" 1
    check "loop1-interrupt: mode 1's first report on the interrupt OUT endpoint stalled" \
      grep -q 'step 0, HIDIOCSOUTPUT: Broken pipe' "$out/loop1-interrupt.stderr"
    check "mode1-interrupt: its controller took it as a protocol error, and nothing else" \
      equals "$(field "$out/mode1-interrupt" reports)/$(field "$out/mode1-interrupt" accepted)/$(field "$out/mode1-interrupt" protocol-errors)" 1/0/1
    check "mode1-interrupt: the error names the pipe" grep -q '^error output report written to the interrupt pipe' \
      "$out/mode1-interrupt/status.txt"
    for mode in 2 3; do
      expect_node "$out/mode$mode" "mode$mode"
      check "loop$mode: the bare loop's download went through ($(cat "$out/loop$mode.stdout" 2>/dev/null))" \
        equals "$(cat "$out/loop$mode.exit" 2>/dev/null)" 0
      expect_download "$out/mode$mode" $mode
    done
    check "loop3: protocol 3's replies read as 64 bytes, without a 0 byte in front" \
      grep -q ' read=64$' "$out/loop3.stdout"
    for name in normal stranger; do
      check "$name: the project's rules leave a controller the program does not write untagged" \
        has_no "$out/$name/node.txt" uaccess
      check "$name: its node stays root's" equals "$(value "$out/$name/node.txt" owner)" 0
    done
    check "stranger: the user cannot open it" grep -q 'cannot open .*Permission denied' "$out/open-stranger.stderr"
    # Six controllers, and mode 1's node once more when usbfs gave its interface back to usbhid.
    check "udev announced the arrival of each controller's node" \
      equals "$(grep -c 'add .*/hidraw/hidraw[0-9]* (hidraw)' "$out/monitor.txt")" 7
    ;;
  start-protocol2 | arrival-protocol2 | uhid-start-protocol2) mode=2 ;;&
  start-protocol3 | arrival-protocol3) mode=3 ;;&
  arrival-protocol1) mode=1 ;;&
  start-* | arrival-* | uhid-start-*)
    expect_node "$out/controller" controller
    expect_usb_node_access "$out/controller" $mode
    expect_outcome "$out/program" 0 "Download Successful!"
    expect_download "$out/controller" $mode
    expect_capture "$out" $mode
    expect_kernel_capture "$out" $mode
    ;;
  no-controller)
    check "program exits with 3 (no controller in an update mode)" equals "$(cat "$out/program.exit" 2>/dev/null)" 3
    check "program shows \"Device error!\" and nothing else" equals "$(cat "$out/program.stdout")" "Device error!"
    check "--wait where no udev daemon runs: exit 1 at once" equals "$(cat "$out/no-udev.exit" 2>/dev/null)" 1
    check "--wait where no udev daemon runs: it says that arrivals cannot be seen here" grep -qx \
      "oskel-update: arrivals cannot be seen here: no udev daemon runs (/run/udev/control: No such file or directory), so no controller plugged in would be noticed" \
      "$out/no-udev.stderr"
    ;;
  normal-controller)
    check "program exits with 3 (no controller in an update mode)" equals "$(cat "$out/program.exit" 2>/dev/null)" 3
    check "program shows no download box" has_no "$out/program.stdout" "Download"
    expect_normal_left_alone "$out/program" "$out/controller"
    check "Start with a controller in mode 1 alone: exit 1 (found, not updated)" \
      equals "$(cat "$out/mode1-start.exit" 2>/dev/null)" 1
    check "Start with a controller in mode 1 alone: it says that its arrival updates it, and names --wait" grep -qxF \
      "oskel-update: the controller 2563:0059 (/dev/$(value "$out/mode1/node.txt" node)) is in update mode 1, which is updated on its arrival: 'oskel-update --wait' updates it, at once as it is plugged in" \
      "$out/mode1-start.stderr"
    check "Start with a controller in mode 1 alone: not that no controller was found" \
      has_no "$out/mode1-start.stderr" "no controller in update mode"
    check "nothing was sent to mode1" equals "$(field "$out/mode1" reports)" 0
    ;;
  refused-report)
    expect_failure_in_time "$out/program"
    check "the controller took 99 reports and refused the 100th, the last it saw" \
      equals "$(field "$out/controller" reports)/$(field "$out/controller" accepted)" 100/99
    check "no protocol error" equals "$(field "$out/controller" protocol-errors)" 0
    check "the flash holds the 98 data reports before the refused one" same_bytes "$out/controller/flash.bin" "$image2" 0 $((98 * 56))
    expect_same_transfers "$out" 2
    ;;
  stalled-report)
    expect_failure_in_time "$out/program"
    check "the controller took 99 reports and held the 100th" \
      equals "$(field "$out/controller" reports)/$(field "$out/controller" accepted)" 100/99
    check "the flash holds the 98 blocks before the held one" same_bytes "$out/controller/flash.bin" "$image3" 0 $((98 * 58))
    expect_same_transfers "$out" 3
    ;;
  unplug-mid-download)
    expect_failure_in_time "$out/program"
    check "the controller took 100 reports before it was unplugged" equals "$(field "$out/controller" accepted)" 100
    check "no protocol error" equals "$(field "$out/controller" protocol-errors)" 0
    check "the flash holds the 99 data reports before the unplug" same_bytes "$out/controller/flash.bin" "$image2" 0 $((99 * 56))
    expect_same_transfers "$out" 2
    ;;
  unplug-in-flight)
    expect_failure_in_time "$out/program"
    check "the controller took 100 reports and went while the 101st was on the bus" \
      equals "$(field "$out/controller" reports)/$(field "$out/controller" accepted)" 101/100
    check "no protocol error" equals "$(field "$out/controller" protocol-errors)" 0
    check "the flash holds the 99 data reports before the unplug" same_bytes "$out/controller/flash.bin" "$image2" 0 $((99 * 56))
    expect_same_transfers "$out" 2
    check "usbmon: both captures hold the 101st report, given back when the controller went" \
      grep -q "^same 101 report transfers" "$out/usbmon-compare.txt"
    ;;
  two-programs)
    expect_two_programs "$out" first second controller 3
    check "controller: it saw one download (3381 reports)" equals "$(field "$out/controller" reports)" 3381
    expect_two_programs "$out" first1 second1 controller1 1
    check "controller1: it saw one download (one identify reply)" equals "$(field "$out/controller1" replies)" 1
    expect_given_back "$out/controller1"
    ;;
  normal-then-update | held-signals | access | protocol1-give-back | protocol1-interrupted) expect_own_scenario "$what" "$out" ;;
  fwupd-*)
    source "$here/fwupd_expectations.sh"
    expect_fwupd_scenario "$what" "$out"
    ;;
  tarball-install | packages-install) expect_install_scenario "$what" "$out" ;;
  sleep-mid-download | held-refused | sleep-mode1) expect_held_scenario "$what" "$out" ;;
  measure) ;;
  *) check "scenario $what is known" false ;;
  esac
  [[ $what == measure ]] || expect_no_dropped_reports "$out"
  check "the machine sent all its results" test -f "$out/dmesg.txt"
  echo "$what: $passed passed, $failed failed"
  ((failed == 0))
}

# ---- The program as its users install it: the tarball's install.sh, the rpm, the Arch package ----

# expect_tagged CONTROLLER NODE-FILE WHAT: the project's rules tag the node uaccess now (udev's
# CURRENT_TAGS: TAGS keeps every tag a node ever had) and the rig's stand-in for logind gave it to
# the user; expect_untagged: the rules tag it no more.
expect_tagged() {
  check "$(basename "$1"): $3: its node is tagged uaccess and the user's" \
    equals "$(value "$1/$2" owner)/$(value "$1/$2" current_tags | grep -c ':uaccess:')" 1000/1
}
expect_untagged() {
  check "$(basename "$1"): $3: its node is not tagged uaccess" equals "$(value "$1/$2" current_tags | grep -c ':uaccess:')" 0
}

# expect_refused NAME PHRASE: install.sh refused with exit status 1, saying why.
expect_refused() {
  check "$1: install.sh refuses (exit 1)" equals "$(cat "$out/$1.exit" 2>/dev/null)" 1
  check "$1: it says why: $(head -n 1 "$out/$1.stderr" 2>/dev/null)" grep -qF -- "$2" "$out/$1.stderr"
}

# expect_not_held_without_systemd PROGRAM: the program said once, at the start of its download, what is not held
# and why: there is neither libsystemd nor libelogind.
expect_not_held_without_systemd() {
  check "$(basename "$1") says once that sleep is not held, and why" equals \
    "$(grep -c '^oskel-update: not held during the download: sleep.*(neither libsystemd.so.0 nor libelogind.so.0 is on this system)$' "$1.stderr")" 1
}

expect_install_scenario() {
  local what=$1 out=$2 home=/home/rig/.local
  case $what in
  tarball-install)
    check "the tarball holds the program, the rules, the manual page, the AppStream file, INSTALL, install.sh and LICENSE" \
      equals "$(tr '\n' ' ' <"$out/tarball.txt")" \
      "70-oskel-update.rules INSTALL LICENSE install.sh invalid.oskel.oskel_update.metainfo.xml oskel-update oskel-update.1 "
    check "the guest has neither libsystemd nor libelogind" test ! -s "$out/systemd-left.txt"
    expect_refused refused-etc "/etc/udev/rules.d cannot be written (/etc is read-only here)"
    expect_refused refused-udev "this system has no udev"
    check "the refusals wrote nothing" cmp -s "$out/state-before.txt" "$out/state-refused.txt"
    check "install exits with 0" equals "$(cat "$out/install.exit" 2>/dev/null)" 0
    check "install: /usr is read-only, so the program goes to the user's ~/.local/bin" \
      grep -qxF "install.sh: /usr is read-only here: the program goes to $home/bin, for rig" "$out/install.stdout"
    check "install: the program is the user's, in ~/.local/bin" grep -qE "^755 1000 [0-9a-f]+ $home/bin/oskel-update$" \
      "$out/state-installed.txt"
    check "install: its manual page is in ~/.local/share/man" grep -qE "^644 1000 [0-9a-f]+ $home/share/man/man1/oskel-update.1$" \
      "$out/state-installed.txt"
    check "install: the rules are in /etc/udev/rules.d, root's" \
      grep -qE '^644 0 [0-9a-f]+ /etc/udev/rules.d/70-oskel-update.rules$' "$out/state-installed.txt"
    check "install: nothing under /usr changed" cmp -s <(grep ' /usr' "$out/state-before.txt") \
      <(grep ' /usr' "$out/state-installed.txt")
    check "install: no SteamOS keep list where the system has none" has_no "$out/state-installed.txt" atomic-update
    expect_untagged "$out/early" node-before.txt "before the install"
    expect_tagged "$out/early" node.txt "after the install, not plugged in again"
    check "install again exits with 0" equals "$(cat "$out/install-again.exit" 2>/dev/null)" 0
    check "install again: everything was installed already" \
      equals "$(grep -c ': already installed$' "$out/install-again.stdout")" 4
    check "install again changed nothing" cmp -s "$out/state-installed.txt" "$out/state-again.txt"
    expect_outcome "$out/start" 0 "Download Successful!"
    expect_download "$out/early" 2
    expect_not_held_without_systemd "$out/start"
    expect_outcome "$out/arrival" 0 "Download Successful!"
    expect_download "$out/mode1" 1
    expect_usb_node_access "$out/mode1" 1
    expect_not_held_without_systemd "$out/arrival"
    check "without libusb: nothing said of it while waiting" has_no "$out/no-libusb-waiting.stderr" libusb
    check "without libusb: mode 1's controller came, and it said once that mode 1 needs libusb" equals \
      "$(grep -c '^oskel-update: update mode 1 needs libusb-1.0.so.0, which cannot be loaded (libusb-1.0.so.0: cannot open shared object file' "$out/no-libusb.stderr")" 1
    check "without libusb: the download failed (exit 1)" equals "$(cat "$out/no-libusb.exit" 2>/dev/null)" 1
    check "without libusb: nothing was written to the controller's flash" equals "$(field "$out/mode1-no-libusb" complete)" 0
    check "SteamOS: install exits with 0" equals "$(cat "$out/steamos.exit" 2>/dev/null)" 0
    check "SteamOS: the keep list names the rules, the install's list and itself" equals "$(tr '\n' ' ' <"$out/keep-list.txt")" \
      "/etc/udev/rules.d/70-oskel-update.rules /etc/oskel-update/installed /etc/atomic-update.conf.d/oskel-update.conf "
    check "uninstall exits with 0" equals "$(cat "$out/uninstall.exit" 2>/dev/null)" 0
    expect_untagged "$out/late" node.txt "after --uninstall"
    check "uninstall left what was there before the first install, and nothing else" \
      cmp -s "$out/state-before.txt" "$out/state-uninstalled.txt"
    ;;
  packages-install)
    local name
    for name in mode2 mode3 mode1; do expect_untagged "$out/$name" node-before.txt "before the package"; done
    check "rpm: %post exits with 0" equals "$(cat "$out/rpm-post.exit" 2>/dev/null)" 0
    for name in mode2 mode3; do expect_tagged "$out/$name" node-rpm.txt "after the rpm's %post, not plugged in again"; done
    check "rpm: mode 1's USB device node is the user's after %post" \
      equals "$(value "$out/mode1/node-rpm.txt" usb_owner)/$(value "$out/mode1/node-rpm.txt" usb_tags | grep -c ':uaccess:')" 1000/1
    expect_outcome "$out/rpm-start" 0 "Download Successful!"
    expect_download "$out/mode2" 2
    check "rpm: removed, its files are gone" test ! -s "$out/rpm-left.txt"
    check "rpm: %postun exits with 0" equals "$(cat "$out/rpm-postun.exit" 2>/dev/null)" 0
    expect_untagged "$out/mode3" node-rpm-removed.txt "after the rpm's removal and %postun"
    check "Arch: post_install exits with 0" equals "$(cat "$out/arch-post.exit" 2>/dev/null)" 0
    expect_tagged "$out/mode3" node.txt "after the Arch package's post_install, not plugged in again"
    expect_outcome "$out/arch-start" 0 "Download Successful!"
    expect_download "$out/mode3" 3
    ;;
  esac
}

# ---- What is held during a download: elogind, polkit's defaults, the desktop portal ----

reason="Firmware update in progress. Do not turn off the computer or unplug the controller."
# As elogind lists what a lock holds, in its own order.
full_block="shutdown:sleep:handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch"

# elogind's own answers (elogind_answers in scenarios.sh): its delay is logind's 5 s; the user at
# the seat, holding a block lock of its own, may suspend, and its Suspend goes to sleep with that
# lock held; another user's block lock stops the same call.
expect_elogind_answers() {
  local answers=$1/elogind/answers.txt
  check "elogind ran, with the stand-in for polkit" test ! -e "$1/elogind/missing"
  check "elogind waits 5 s for delay locks (InhibitDelayMaxUSec)" contains_line "$answers" "delay: t 5000000"
  check "elogind lists the user's own block lock" grep -q '^inhibitors: .*"own-lock" "check" "block" 1000' "$answers"
  check "elogind: the user may suspend past its own block lock (CanSuspend)" contains_line "$answers" 'can-suspend: s "yes"'
  check "elogind: its Suspend is not refused" contains_line "$answers" "suspend: "
  check "elogind went to sleep with the user's own block lock held" \
    grep -q '^pre suspend .* held=own-lock:block:sleep,$' "$1/elogind/sleep-answers.txt"
  # polkit's default for suspend-ignore-inhibit is auth_admin_keep: a challenge that no agent answers.
  check "elogind: another user's block lock makes the user's suspend a challenge" \
    contains_line "$answers" 'can-suspend-other: s "challenge"'
  check "elogind: and refuses its Suspend" grep -q '^suspend-other: .*Interactive authentication required' "$answers"
  check "elogind did not sleep then" equals "$(grep -c '^pre suspend' "$1/elogind/sleep-answers.txt")" 1
}

# expect_not_held PROGRAM WHAT WHY: one line on standard error says that WHAT is not held, and why.
expect_not_held() {
  check "$(basename "$1") says that $2 is not held ($3)" \
    grep -q "^oskel-update: not held during the download: $2 ($3" "$1.stderr"
}

expect_held_scenario() {
  local what=$1 out=$2 program portal=$2/portal.txt
  case $what in
  sleep-mid-download)
    expect_elogind_answers "$out"
    program=$out/program
    check "program exits with 0 (the stopped download was done again)" equals "$(cat "$program.exit" 2>/dev/null)" 0
    check "program: the stopped download failed, the next one succeeded" \
      equals "$(grep -v '^progress' "$program.stdout" | tr '\n' '/')" "Download Failture!/Download Successful!/"
    check "program held logind's block lock for sleep, shutdown, the keys and the lid" \
      grep -q "\"$full_block\" \"oskel-update\" \"$reason\" \"block\" 1000" "$out/elogind/inhibitors-during.txt"
    # A lock of one kind each: logind asks polkit about a lock of several kinds as if it were for
    # the lid switch, which a remote login may not hold.
    for kind in sleep shutdown; do
      check "program held logind's delay lock for $kind" \
        grep -q "\"$kind\" \"oskel-update\" \"$reason\" \"delay\" 1000" "$out/elogind/inhibitors-during.txt"
    done
    check "program says that the rest does not fit in logind's delay and the download stops between two reports" \
      grep -q "^oskel-update: the system is going to sleep: the rest of the download (about [0-9]* s) does not fit in the 5 s that logind waits: it stops between two reports$" \
      "$program.stderr"
    check "program says the controller is left in its update mode, partly written, and updated after the resume" \
      grep -q "^oskel-update: the download was stopped: the controller 0461:4d81 is left in its update mode, partly written: it is updated again once the system has resumed$" \
      "$program.stderr"
    check "program says that the rest of the second download fits in logind's delay" \
      grep -q "^oskel-update: the system is going to sleep: the rest of the download (about [0-9]* s) fits in the 5 s that logind waits: it is finished first$" \
      "$program.stderr"
    check "the system went to sleep twice" equals "$(grep -c '^pre suspend' "$out/elogind/sleep.txt" 2>/dev/null)" 2
    # (elogind may go to sleep before it has noticed the end of the program's other locks.)
    check "each time once the program had let its delay lock for sleep go ($(grep '^pre' "$out/elogind/sleep.txt" | tr '\n' ';'))" \
      has_no "$out/elogind/sleep.txt" "oskel-update:delay:sleep"
    check "no report reached the controller while the system slept ($(tr '\n' ' ' <"$out/controller/marks.txt"))" \
      equals "$(sed -n 's/^reports=\([0-9]*\).*/\1/p' "$out/controller/marks.txt" | uniq -c | awk '{print $1}' | tr '\n' ' ')" "2 2 "
    check "controller: the stopped download and the whole one (3381 reports), nothing else" \
      below "$(field "$out/controller" reports)" $((2 * 3381))
    check "controller: the stopped one ended at a report boundary, with its end report" \
      below 3381 "$(field "$out/controller" reports)"
    expect_download "$out/controller" 3
    check "the portal was asked to inhibit suspend and logout (flags 5) with the reason, twice" \
      equals "$(grep -c "^inhibit-us=[0-9]* flags=5 window= reason=$reason handle=/org/freedesktop/portal/desktop/request/" "$portal")" 2
    check "the program closed each inhibition of the portal" equals "$(grep -c '^closed-us=' "$portal")" 2
    check "the portal held it from before the first report" \
      below "$(sed -n '1s/^inhibit-us=\([0-9]*\).*/\1/p' "$portal")" "$(sed -n 's/.*first-report-us=\([0-9]*\).*/\1/p' "$out/controller/timing.txt")"
    check "until after the last report" \
      below "$(sed -n 's/.*last-report-us=\([0-9]*\).*/\1/p' "$out/controller/timing.txt")" "$(sed -n 's/^closed-us=\([0-9]*\).*/\1/p' "$portal" | tail -n 1)"
    ;;
  held-refused)
    check "elogind ran, with the stand-in for polkit" test ! -e "$out/elogind/missing"
    for program in remote no-system-bus no-logind; do
      expect_outcome "$out/$program" 0 "Download Successful!"
    done
    check "remote: polkit refused the block locks by logind's policy (allow_any)" \
      grep -q "check action=org.freedesktop.login1.inhibit-block-sleep uid=1001 answer=no" "$out/elogind/polkit.txt"
    check "remote: and allowed the delay locks" \
      grep -q "check action=org.freedesktop.login1.inhibit-delay-sleep uid=1001 answer=yes" "$out/elogind/polkit.txt"
    check "remote: only the delay locks were held" \
      equals "$(grep -o '"[a-z:-]*" "oskel-update" "[^"]*" "[a-z]*" 1001' "$out/elogind/inhibitors-remote.txt" | sort | tr '\n' '/')" \
      "\"shutdown\" \"oskel-update\" \"$reason\" \"delay\" 1001/\"sleep\" \"oskel-update\" \"$reason\" \"delay\" 1001/"
    expect_not_held "$out/remote" "sleep and shutdown beyond logind's delay of 5 s, the lid switch and the keys" "logind refused"
    expect_not_held "$out/remote" "the desktop's suspend and logout" "no session bus"
    expect_not_held "$out/no-system-bus" "sleep, shutdown and the lid" "no system bus"
    expect_not_held "$out/no-logind" "sleep, shutdown and the lid" "logind does not answer"
    check "controller: three whole downloads (1650 reports)" equals "$(field "$out/controller" reports)" 1650
    ;;
  sleep-mode1)
    check "program: the stopped download failed, the next one succeeded" \
      equals "$(grep -v '^progress' "$out/program.stdout" | tr '\n' '/')" "Download Failture!/Download Successful!/"
    check "program exits with 0" equals "$(cat "$out/program.exit" 2>/dev/null)" 0
    check "program says the controller is left in its update mode, partly written, and updated after the resume" \
      grep -q "^oskel-update: the download was stopped: the controller 2563:0059 is left in its update mode, partly written: it is updated again once the system has resumed$" \
      "$out/program.stderr"
    check "the system went to sleep once, with the program's delay lock for sleep let go" \
      equals "$(grep '^pre suspend' "$out/elogind/sleep.txt" | grep -vc 'oskel-update:delay:sleep')" 1
    check "no report reached the controller while the system slept ($(tr '\n' ' ' <"$out/controller/marks.txt"))" \
      equals "$(sed -n 's/^reports=\([0-9]*\).*/\1/p' "$out/controller/marks.txt" | uniq -c | awk '{print $1}')" 2
    check "controller: no finish report in the stopped download, a whole one after the resume" \
      below 982 "$(field "$out/controller" reports)"
    expect_download "$out/controller" 1
    expect_given_back "$out/controller"
    ;;
  esac
}
