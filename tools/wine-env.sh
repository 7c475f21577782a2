#!/bin/bash
# Runs Windows programs of the 64-bit build under Wine, in a Wine prefix of the build's own and
# on a virtual X display, so that nothing waits for a user: no crash dialog, no Mono or Gecko
# installer. A crash or a hang ends as a failing test (ctest's time limit), never as a window.
#
#   tools/wine-env.sh PREFIX init                    create the prefix once (wineboot -i); it is
#                                                    made again when Wine's 32-bit part came or went
#   tools/wine-env.sh PREFIX clone TEMPLATE          PREFIX becomes a fresh copy of TEMPLATE
#   tools/wine-env.sh PREFIX remove                  stop PREFIX's wineserver and delete PREFIX
#   tools/wine-env.sh PREFIX run PROGRAM ARGS        run PROGRAM with ARGS, then stop the prefix's wineserver
#   tools/wine-env.sh PREFIX run-i386 EXE32 PROGRAM ARGS
#                                                    the same for a run that starts the 32-bit EXE32:
#                                                    exit status 77 (skipped), with the reason, where
#                                                    32-bit programs cannot run
#
# Needs the Debian packages wine, wine64 and xvfb (xvfb-run); 32-bit programs need Wine's 32-bit
# part too: Debian's wine32:i386 where it is installed, otherwise the copy that tools/wine32.sh
# unpacks (tools/setup.sh does, where the kernel runs 32-bit programs).
set -euo pipefail

prefix="$1"
action="$2"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"

# The exit status by which ctest reports a test as skipped (SKIP_RETURN_CODE).
readonly skipped=77

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${OSKEL_WINEDEBUG:--all,warn+debugstr}"
unset DISPLAY

# Debian's wine script takes the 32-bit loader once wine32:i386 is installed; the 64-bit
# programs run with the 64-bit loader, which starts 32-bit programs through the 32-bit one
# beside it. Without wine32:i386, the unpacked copy's wine64 (the installed one's twin) has the
# 32-bit loader beside it; its 32-bit libraries and DLLs are in the copy too.
wine=wine
wine32=""
if [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
  if [ -x /usr/lib/wine/wine ]; then
    wine32="wine32:i386"
  elif wine32_root=$(bash "$here/wine32.sh" where); then
    wine=$wine32_root/usr/lib/wine/wine64
    wine32="$wine32_root"
    export LD_LIBRARY_PATH="$wine32_root/usr/lib/i386-linux-gnu:$wine32_root/lib/i386-linux-gnu"
    export WINEDLLPATH="$wine32_root/usr/lib/i386-linux-gnu/wine"
  else
    wine32_missing=$wine32_root
  fi
  export WINELOADER="$wine"
fi

# What the prefix was made with: a prefix made without Wine's 32-bit part has no WoW64 side.
wine_setup() {
  if [ -n "$wine32" ]; then echo "wine 64-bit and 32-bit ($wine32)"; else echo "wine 64-bit"; fi
}

run_on_display() {
  local status=0
  xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$@" || status=$?
  wineserver -k 2>/dev/null || true
  return $status
}

case "$action" in
init)
  if [ -f "$prefix/.oskel-ready" ] && [ "$(cat "$prefix/.oskel-ready")" = "$(wine_setup)" ]; then
    echo "Wine prefix $prefix ready"
    exit 0
  fi
  rm -rf "$prefix"
  mkdir -p "$prefix"
  xvfb-run -a "$wine" wineboot -i
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  wineserver -w
  wine_setup >"$prefix/.oskel-ready"
  echo "Wine prefix $prefix created ($(wine_setup))"
  ;;
clone)
  template="$1"
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  cp -a "$template" "$prefix"
  echo "Wine prefix $prefix copied from $template"
  ;;
remove)
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  echo "Wine prefix $prefix removed"
  ;;
run)
  status=0
  run_on_display "$@" || status=$?
  exit $status
  ;;
run-i386)
  program32="$1"
  shift
  if ! reason=$(bash "$here/i386-runs.sh"); then
    echo "SKIPPED: $reason"
    exit $skipped
  fi
  if [ -z "$wine32" ]; then
    echo "SKIPPED: ${wine32_missing:-no 32-bit Wine}"
    exit $skipped
  fi
  if [ ! -f "$program32" ]; then
    echo "the 32-bit program $program32 is not built (cmake --preset win32 && cmake --build --preset win32)" >&2
    exit 1
  fi
  status=0
  run_on_display "$@" || status=$?
  exit $status
  ;;
*)
  echo "usage: $0 PREFIX init|clone TEMPLATE|remove|run PROGRAM ARGS...|run-i386 EXE32 PROGRAM ARGS..." >&2
  exit 2
  ;;
esac
