#!/bin/bash
# Runs Windows programs of the 64-bit build under Wine, in a Wine prefix of the build's own and
# on a virtual X display, so that nothing waits for a user: no crash dialog, no Mono or Gecko
# installer. A crash or a hang ends as a failing test (ctest's time limit), never as a window.
#
#   tools/wine-env.sh PREFIX init              create the prefix once (wineboot -i)
#   tools/wine-env.sh PREFIX run PROGRAM ARGS  run PROGRAM with ARGS, then stop the prefix's wineserver
#
# Needs the Debian packages wine, wine64 and xvfb (xvfb-run).
set -euo pipefail

prefix="$1"
action="$2"
shift 2

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${OSKEL_WINEDEBUG:--all,warn+debugstr}"
unset DISPLAY

case "$action" in
init)
  if [ -f "$prefix/.oskel-ready" ]; then
    echo "Wine prefix $prefix ready"
    exit 0
  fi
  rm -rf "$prefix"
  mkdir -p "$prefix"
  xvfb-run -a wineboot -i
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  wineserver -w
  touch "$prefix/.oskel-ready"
  echo "Wine prefix $prefix created"
  ;;
run)
  status=0
  xvfb-run -a -s "-screen 0 1024x768x24" wine "$@" || status=$?
  wineserver -k 2>/dev/null || true
  exit $status
  ;;
*)
  echo "usage: $0 PREFIX init|run PROGRAM ARGS..." >&2
  exit 2
  ;;
esac
