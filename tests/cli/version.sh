#!/usr/bin/env bash
# oskel-sim --version prints the version of project() in CMakeLists.txt, the one place it is kept.
set -u
sim="$1"
source_dir="$2"
fail() { echo "FAIL: $*" >&2; exit 1; }

version="$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\)[ )].*/\1/p' "$source_dir/CMakeLists.txt")"
[ -n "$version" ] || fail "no VERSION in the project() line of CMakeLists.txt"
out="$("$sim" --version)"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
[ "$out" = "oskel-sim $version" ] || fail "--version printed '$out', expected 'oskel-sim $version'"
echo "ok: $out"
