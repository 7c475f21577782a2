#!/usr/bin/env bash
# Builds every preset and runs every test: host, the Linux program and fwupd's plugin in a virtual
# machine (tests/linux/), sanitizers, fuzzers, the Windows program under Wine, and the release
# (tests/release/). Installs what it needs first.
#   tools/test.sh            everything
#   FUZZ_SECONDS=N           time per fuzz target (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

section() { printf '\n=== %s\n' "$*"; }

# Before the host tests: the tests through the kernel's HID stack run this program.
section "linux: oskel-update"
cmake --preset linux >/dev/null
cmake --build --preset linux
ctest --preset linux

# Before the host tests too: fwupd with the project's plugin (kept in build/fwupd/ for the next run),
# whose self-test and fwupdtool the host build's fwupd tests run.
section "fwupd: fwupdtool and the plugin's self-test"
fwupdtool=$(bash tools/build-fwupd.sh | tail -n 1)

section "host: build and tests"
cmake --preset host -DOSKEL_FWUPDTOOL="$fwupdtool" >/dev/null
cmake --build --preset host
ctest --preset host

section "linux: oskel-update and fwupdtool through the kernel's HID stack, in a virtual machine"
ctest --preset linux-vm

section "host with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan

if [[ -x tools/run-fuzzers.sh ]]; then
  section "fuzzers"
  bash tools/run-fuzzers.sh "${FUZZ_SECONDS:-20}"
fi

if [[ -f cmake/windows.cmake ]]; then
  section "win32: the shipped 32-bit program"
  cmake --preset win32 >/dev/null
  cmake --build --preset win32
  bash tools/check-imports.sh build/win32/OskelUpdater.exe

  section "win64: the program under Wine"
  if ! reason=$(bash tools/i386-runs.sh); then
    echo "note: the 32-bit runs under Wine (wine.rig32.*) are skipped: $reason"
  fi
  cmake --preset win64 >/dev/null
  cmake --build --preset win64
  ctest --preset win64
fi

if [[ -d tests/release ]]; then
  section "release: firmware image checks, two reproducible release builds, signing"
  release_passed=0
  release_failed=0
  for test in tests/release/*.sh; do
    if bash "$test"; then release_passed=$((release_passed + 1)); else release_failed=$((release_failed + 1)); fi
  done
  echo "release: $release_passed passed, $release_failed failed"
  ((release_failed == 0))
fi
