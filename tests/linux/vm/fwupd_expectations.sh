# What fwupd's scenarios must have left (test rig only; sourced by expectations.sh, whose checks
# they use). fwupdtool lists each controller as the plugin describes it and sends it nothing; a
# download through install-blob or a cabinet leaves the image in the flash, the models found no
# fault in any report, and the kernel's record of the bus conforms; a failed one ends with an
# error that names the report, within the plugin's time limits.

# The GUID that fwupd makes of a controller's USB instance ID.
fwupd_guid_of_mode() {
  local ids vid pid
  ids=$(ids_of_mode "$1" | tr a-f A-F)
  python3 -c 'import sys, uuid; print(uuid.uuid5(uuid.NAMESPACE_DNS, sys.argv[1]))' "USB\\VID_${ids%:*}&PID_${ids#*:}"
}

# fwupd_device_field NAME KEY: the value of KEY of the one device fwupdtool get-devices --json
# printed into NAME.stdout (lists joined with ",").
fwupd_device_field() {
  jq -r --arg key "$2" '[.Devices[] | select(.Plugin == "oskel_controller")] |
    if length == 1 then .[0][$key] | if type == "array" then join(",") else tostring end else "devices: \(length)" end' \
    "$1.stdout" 2>/dev/null
}

# The time in ms between the plugin's notes of the first two refused start reports (the log's
# "HH:MM:SS.mmm"; -1 without two).
fwupd_try_gap_ms() {
  grep 'the start report was not taken' "$1" | head -n 2 | awk '{ split($1, t, "[:.]"); ms[NR] = ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }
    END { print (NR == 2 ? ms[2] - ms[1] : -1) }'
}

# expect_fwupd_listed OUT NAME MODE: get-devices listed the controller NAME (NAME-devices).
expect_fwupd_listed() {
  local listing=$1/$2-devices
  check "$2: get-devices exits with 0" equals "$(cat "$listing.exit" 2>/dev/null)" 0
  check "$2: get-devices lists it as \"Game Controller (update mode $3)\"" \
    equals "$(fwupd_device_field "$listing" Name)" "Game Controller (update mode $3)"
  check "$2: ... with the GUID of its instance ID" \
    grep -q "$(fwupd_guid_of_mode "$3")" <<<"$(fwupd_device_field "$listing" Guid)"
  check "$2: ... the update protocol of mode $3" \
    equals "$(fwupd_device_field "$listing" Protocols)" "invalid.oskel.controller.protocol$3"
  check "$2: ... version 0.0, updatable" \
    equals "$(fwupd_device_field "$listing" Version)/$(fwupd_device_field "$listing" Flags | grep -o -w updatable)" 0.0/updatable
}

# expect_fwupd_download OUT NAME MODE WHAT: fwupdtool's WHAT (install-blob, install) wrote the image.
expect_fwupd_download() {
  local controller=$1/$2
  expect_fwupd_listed "$1" "$2" "$3"
  check "$2: fwupdtool $4 exits with 0 ($(tail -n 1 "$controller-install.stderr" 2>/dev/null))" \
    equals "$(cat "$controller-install.exit" 2>/dev/null)" 0
  expect_download "$controller" "$3"
  check "usbmon: the record lost no event ($(tail -n 1 "$controller/usbmon.stdout" 2>/dev/null))" \
    equals "$(cat "$controller/usbmon.exit" 2>/dev/null)" 0
  expect_conforming "$controller/usbmon.pcapng" "$3" usbmon "the kernel's record of fwupd's $4"
  expect_given_back "$controller"
}

# expect_fwupd_failure OUT EXIT TEXT: install-blob failed with status EXIT and an error that holds
# TEXT, in time.
expect_fwupd_failure() {
  local program=$1/controller-install
  check "fwupdtool install-blob exits with $2" equals "$(cat "$program.exit" 2>/dev/null)" "$2"
  check "its error says: $3" grep -qF -- "$3" "$program.stderr"
  check "it ends within the time limits ($(cat "$program.ms" 2>/dev/null) ms, at most $failure_limit_ms)" \
    below "$(cat "$program.ms" 2>/dev/null)" "$failure_limit_ms"
  check "usbmon: the record lost no event ($(tail -n 1 "$1/controller/usbmon.stdout" 2>/dev/null))" \
    equals "$(cat "$1/controller/usbmon.exit" 2>/dev/null)" 0
}

expect_fwupd_scenario() {
  local what=$1 out=$2 mode
  case $what in
  fwupd-protocol[123])
    mode=${what#fwupd-protocol}
    expect_fwupd_listed "$out" listed "$mode"
    check "listed: it was sent nothing" equals "$(field "$out/listed" reports)/$(field "$out/listed" replies)" 0/0
    expect_given_back "$out/listed"
    expect_fwupd_download "$out" blob "$mode" install-blob
    expect_fwupd_download "$out" cab "$mode" install
    if [[ $mode == 2 ]]; then
      check "cab: its controller refused the start report twice, then took the whole stream (552 reports)" \
        equals "$(field "$out/cab" reports)/$(field "$out/cab" accepted)" 552/550
      check "cab: fwupd told of the start report not taken, twice" \
        equals "$(grep -c 'the start report was not taken' "$out/cab-install.stderr")" 2
      check "cab: ... which were 1000 ms apart or more ($(fwupd_try_gap_ms "$out/cab-install.stderr") ms)" \
        test "$(fwupd_try_gap_ms "$out/cab-install.stderr")" -ge 1000
    fi
    ;;
  fwupd-unplug-mid-download)
    # fwupd's status for a device that is not found
    expect_fwupd_failure "$out" 3 "failed to write the data report at image offset 0x$(printf %04x $((99 * 56)))"
    check "the controller took 100 reports before it was unplugged" equals "$(field "$out/controller" accepted)" 100
    check "no protocol error" equals "$(field "$out/controller" protocol-errors)" 0
    check "the flash holds the 99 data reports before the unplug" same_bytes "$out/controller/flash.bin" "$image2" 0 $((99 * 56))
    ;;
  fwupd-stalled-report)
    expect_fwupd_failure "$out" 1 "failed to send block 99 of 3379: failed to SetReport [interrupt-transfer]: USB error: Operation timed out"
    check "... and says that the end report failed too" grep -qF "the end report failed too" "$out/controller-install.stderr"
    check "the controller took 99 reports and held the 100th" \
      equals "$(field "$out/controller" reports)/$(field "$out/controller" accepted)" 100/99
    check "its interface was not given back to usbhid, which it would not answer" \
      grep -qE '^[0-9]+-[0-9.]+:1\.0 -$' "$out/controller/interfaces.txt"
    check "the flash holds the 98 blocks before the held one" same_bytes "$out/controller/flash.bin" "$image3" 0 $((98 * 58))
    ;;
  *) check "scenario $what is known" false ;;
  esac
}
