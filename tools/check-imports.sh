#!/usr/bin/env bash
# Checks that a Windows program imports system DLLs only (no runtime DLLs beside it, and no
# DLL that Windows would look for in the program's own folder first).
#   tools/check-imports.sh PROGRAM.exe
set -euo pipefail
program=$1
objdump=i686-w64-mingw32-objdump
if x86_64-w64-mingw32-objdump -f "$program" 2>/dev/null | grep -q 'pei-x86-64'; then
  objdump=x86_64-w64-mingw32-objdump
fi

# Known system DLLs (loaded from the system directory whatever the program's folder holds).
allowed=" kernel32.dll user32.dll gdi32.dll comdlg32.dll setupapi.dll advapi32.dll msvcrt.dll
          shell32.dll ole32.dll oleaut32.dll ws2_32.dll ucrtbase.dll "
allowed=" $(echo $allowed) "  # one space between names, also across the line break
status=0
dlls=$("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
if [[ -z "$dlls" ]]; then
  echo "check-imports: no import table found in $program" >&2
  exit 1
fi
for dll in $dlls; do
  if [[ "$allowed" != *" $dll "* && "$dll" != api-ms-win-* ]]; then
    echo "check-imports: $program imports $dll, which is not a known system DLL" >&2
    status=1
  fi
done
echo "check-imports: $program imports: $(echo $dlls)"
exit $status
