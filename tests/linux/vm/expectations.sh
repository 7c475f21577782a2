# What each scenario must have left (test rig only; sourced by run_scenario.sh, which sets
# image1..image3). A download ends with the flash equal to the image and no protocol error; a
# failed one within the updater's time limits.

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

# expect_capture OUT MODE: the program's capture of the download, as the kernel's HID stack
# carried it, is that mode's protocol report by report and wrote the image; so is the kernel's
# own usbmon capture of the bus, where the scenario made one.
expect_capture() {
  local report=$1/capture-check.txt
  "$sim" --check-capture "$1/capture.pcapng" --device "$(ids_of_mode "$2")" --image "$(image_of_mode "$2")" \
    >"$report" 2>&1 || true
  check "program: its capture conforms to protocol $2 ($(grep -m 1 -o '^conforms: [^:]*' "$report"))" grep -q "^conforms: " "$report"
  check "program: the flash its capture wrote equals the image" grep -q "^flash: equal to the image" "$report"
  # The kernel's own record of the bus, where the scenario made one: every device in it conforms.
  if [[ -f $1/usbmon.pcapng ]]; then
    "$sim" --check-capture "$1/usbmon.pcapng" --device "$(ids_of_mode "$2")" --image "$(image_of_mode "$2")" \
      >"$1/usbmon-check.txt" 2>&1
    check "kernel: its usbmon capture conforms to protocol $2 and wrote the image (exit $?)" equals "$?" 0
  fi
}

# The kernel and udev took the controller: hid-core holds its descriptor, hid-generic drives it,
# the project's rule tagged its node "uaccess", and so the user got it.
expect_node() {
  local node=$1/node.txt
  check "$2: hid-core took the report descriptor of the model's collections" equals "$(value "$node" descriptor)" same
  check "$2: hid-generic drives it" equals "$(value "$node" driver)" hid-generic
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
}

expect_no_dropped_reports() {
  check "uhid dropped no output report (its queue never ran full)" has_no "$1/dmesg.txt" "Output queue is full"
}

expect_failure_in_time() {
  expect_outcome "$1" 1 "Download Failture!"
  check "$(basename "$1") ends within the time limits ($(cat "$1.ms" 2>/dev/null) ms, at most $failure_limit_ms)" \
    below "$(cat "$1.ms" 2>/dev/null)" "$failure_limit_ms"
}

expect_scenario() {
  local what=$1 out=$2 mode
  case $what in
  rig)
    for mode in 1 2 3; do
      expect_node "$out/mode$mode" "mode$mode"
      check "loop$mode: the bare loop's download went through ($(cat "$out/loop$mode.stdout" 2>/dev/null))" \
        equals "$(cat "$out/loop$mode.exit" 2>/dev/null)" 0
      expect_download "$out/mode$mode" $mode
    done
    check "loop3: protocol 3's replies read as 64 bytes, without a 0 byte in front" \
      grep -q ' read=64$' "$out/loop3.stdout"
    expect_node "$out/normal" normal
    check "stranger: the project's rule leaves a controller it does not name untagged" \
      has_no "$out/stranger/node.txt" uaccess
    check "stranger: its node stays root's" equals "$(value "$out/stranger/node.txt" owner)" 0
    check "stranger: the user cannot open it" grep -q 'cannot open .*Permission denied' "$out/open-stranger.stderr"
    check "udev announced the arrival of each controller's node" \
      equals "$(grep -c 'add .*/hidraw/hidraw[0-9]* (hidraw)' "$out/monitor.txt")" 5
    ;;
  start-protocol2 | arrival-protocol2) mode=2 ;;&
  start-protocol3 | arrival-protocol3) mode=3 ;;&
  arrival-protocol1) mode=1 ;;&
  start-* | arrival-*)
    expect_node "$out/controller" controller
    expect_outcome "$out/program" 0 "Download Successful!"
    expect_download "$out/controller" $mode
    expect_capture "$out" $mode
    ;;
  no-controller)
    check "program exits with 1" equals "$(cat "$out/program.exit" 2>/dev/null)" 1
    check "program shows \"Device error!\" and nothing else" equals "$(cat "$out/program.stdout")" "Device error!"
    ;;
  normal-controller)
    expect_node "$out/controller" controller
    check "program exits with 1" equals "$(cat "$out/program.exit" 2>/dev/null)" 1
    check "program shows no download box" has_no "$out/program.stdout" "Download"
    check "nothing was sent to the controller" equals "$(field "$out/controller" reports)/$(field "$out/controller" replies)" 0/0
    ;;
  refused-report)
    expect_failure_in_time "$out/program"
    check "the controller took 99 reports, refused the 100th, then took the end report" \
      equals "$(field "$out/controller" reports)/$(field "$out/controller" accepted)" 101/100
    check "no protocol error" equals "$(field "$out/controller" protocol-errors)" 0
    check "the flash holds the 98 blocks before the refused one" same_bytes "$out/controller/flash.bin" "$image3" 0 $((98 * 58))
    ;;
  stalled-report)
    expect_failure_in_time "$out/program"
    check "the controller took 99 reports and held the 100th" \
      equals "$(field "$out/controller" reports)/$(field "$out/controller" accepted)" 100/99
    check "the flash holds the 98 blocks before the held one" same_bytes "$out/controller/flash.bin" "$image3" 0 $((98 * 58))
    ;;
  unplug-mid-download)
    expect_failure_in_time "$out/program"
    check "the controller took 100 reports before it was unplugged" equals "$(field "$out/controller" accepted)" 100
    check "no protocol error" equals "$(field "$out/controller" protocol-errors)" 0
    check "the flash holds the 99 data reports before the unplug" same_bytes "$out/controller/flash.bin" "$image2" 0 $((99 * 56))
    ;;
  two-programs)
    local winner loser
    if [[ $(cat "$out/first.exit" 2>/dev/null) == 0 ]]; then winner=first loser=second; else winner=second loser=first; fi
    expect_outcome "$out/$winner" 0 "Download Successful!"
    check "$loser exits with 1" equals "$(cat "$out/$loser.exit" 2>/dev/null)" 1
    check "$loser starts no download" has_no "$out/$loser.stdout" "Download"
    check "$loser tells why on standard error" grep -q '^oskel-update: ' "$out/$loser.stderr"
    check "the controller saw one download (3381 reports)" equals "$(field "$out/controller" reports)" 3381
    expect_download "$out/controller" 3
    ;;
  measure) ;;
  *) check "scenario $what is known" false ;;
  esac
  [[ $what == measure ]] || expect_no_dropped_reports "$out"
  check "the machine sent all its results" test -f "$out/dmesg.txt"
  echo "$what: $passed passed, $failed failed"
  ((failed == 0))
}
