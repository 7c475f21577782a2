#!/bin/bash
# "Start" with a controller in update mode 0x0461:0x4D81: begin, 3379 acknowledged blocks, end.
# Also as a composite controller whose first interface is a keyboard, which Windows opens for
# reading and writing only for itself: the updater takes the controller's own collection.
set -u
sim="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for shape in plain --keyboard-first; do
  extra=()
  [ "$shape" = plain ] || extra=("$shape")
  "$sim" --device 0461:4d81 "${extra[@]}" --trace "$work/trace" --flash-out "$work/flash" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 0 ] || { cat "$work/err" >&2; fail "$shape: exit status $status, expected 0"; }
  grep -q "Download Successful!" "$work/out" || fail "$shape: no \"Download Successful!\" shown"
  [ ! -s "$work/err" ] || { cat "$work/err" >&2; fail "$shape: diagnostics on stderr"; }
  trace="$work/trace"
  [ "$(grep -c '^write ok 00bac1' "$trace")" -eq 3379 ] || fail "$shape: expected 3379 blocks"
  [ "$(grep -c '^read ok ' "$trace")" -eq 3381 ] || fail "$shape: expected 3381 replies"
  grep -q '^write ok 00bac0330d5dfd02' "$trace" || fail "$shape: begin report fields"
  grep -q '^write ok 00bac2340d' "$trace" || fail "$shape: end report count field"
  cmp "$work/flash" "$2/res/firmware/mode3.bin" || fail "$shape: flash differs from the image"
  [ "$(tail -n 1 "$trace")" = "exit 0" ] || fail "$shape: the trace does not end with 'exit 0'"
  if [ "$shape" = --keyboard-first ]; then
    # Start's two finders each pass the keyboard for the controller's own collection.
    [ "$(grep -c '^open rw fail .*&col01#' "$trace")" -eq 2 ] || fail "keyboard: expected its read-write open refused twice"
    [ "$(grep -c '^open rw ok .*&col02#' "$trace")" -eq 2 ] || fail "keyboard: expected the controller's collection opened twice"
  fi
done
echo PASS
