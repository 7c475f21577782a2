#!/usr/bin/env bash
# Tells whether this machine's kernel runs 32-bit x86 programs: runs a tiny static i386
# program (an ELF image of 93 bytes that only calls exit(0)). Exit status 0 when it ran;
# otherwise 1, with the reason on standard output.
set -u

program=$(mktemp)
trap 'rm -f "$program"' EXIT

# ELF header (52 bytes): 32-bit, little-endian, executable, machine 3 (i386), entry 0x08048054,
# one program header at offset 52.
header='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
header+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'
header+='\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
# Program header (32 bytes): one loadable segment, the whole file at 0x08048000, 93 bytes,
# readable and executable.
segment='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
segment+='\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
# Code (9 bytes): mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80.
code='\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
printf "$header$segment$code" >"$program"
chmod +x "$program"

if output=$("$program" 2>&1); then
  exit 0
fi
echo "this kernel does not run 32-bit programs (a static i386 program gives: ${output##*: })"
exit 1
