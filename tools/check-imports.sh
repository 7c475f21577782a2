#!/bin/bash
# Fails unless the program imports only from DLLs that every Windows system carries in its
# system directory (no hid.dll, no MinGW runtime DLLs).
#   tools/check-imports.sh <objdump> <program.exe>
set -euo pipefail
objdump="$1"
program="$2"
allowed='^(kernel32|user32|gdi32|comdlg32|setupapi|advapi32|msvcrt)\.dll$'
imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
if [ -z "$imports" ]; then
  echo "no import table found in $program" >&2
  exit 1
fi
status=0
for dll in $imports; do
  if [[ "$dll" =~ $allowed ]]; then
    echo "ok        $dll"
  else
    echo "forbidden $dll" >&2
    status=1
  fi
done
exit $status
