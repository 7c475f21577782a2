#!/usr/bin/env bash
# Checks that the Linux program runs on every system of the README's floor (glibc 2.34: Debian 12,
# Ubuntu 22.04, Fedora 35, SteamOS 3.4, Arch), whatever C++ runtime it has or lacks:
#
#   tools/check-linux-program.sh PROGRAM
#
# - it names (NEEDED) only glibc's libc and loader and libudev: libstdc++ and libgcc are linked
#   in, libsystemd or libelogind and libusb are loaded at run time when they are there;
# - no symbol it takes from glibc has a version newer than GLIBC_2.34;
# - it takes no symbol from a C++ runtime or GCC's (GLIBCXX_*, CXXABI_*, GCC_*).
# Prints the NEEDED list and the newest glibc version; exit status 0 when all hold, 1 otherwise.
set -euo pipefail
program=${1:?usage: check-linux-program.sh PROGRAM}
glibc_floor=2.34
allowed_needed=(libc.so.6 ld-linux-x86-64.so.2 libudev.so.1)

[[ -f $program ]] || { echo "check-linux-program: no program at $program" >&2; exit 1; }
faults=0
fault() { echo "check-linux-program: $program: $*" >&2; faults=$((faults + 1)); }

needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
for library in $needed; do
  printf '%s\n' "${allowed_needed[@]}" | grep -qxF "$library" || fault "needs $library"
done
versions=$(objdump -T "$program" | grep -oE '\((GLIBC|GLIBCXX|CXXABI|GCC)_[0-9A-Za-z.]+\)' | tr -d '()' | sort -u)
newest=$(grep '^GLIBC_' <<<"$versions" | sed 's/^GLIBC_//' | sort -V | tail -n 1)
if [[ -n $newest && $(printf '%s\n' "$newest" "$glibc_floor" | sort -V | tail -n 1) != "$glibc_floor" ]]; then
  for symbol in $(objdump -T "$program" | awk -v floor="$glibc_floor" '
      match($0, /\(GLIBC_[0-9.]+\)/) { v = substr($0, RSTART + 7, RLENGTH - 8); print v " " $NF }' |
      while read -r version name; do
        [[ $(printf '%s\n' "$version" "$glibc_floor" | sort -V | tail -n 1) != "$glibc_floor" ]] && echo "$name@GLIBC_$version"
      done); do
    fault "takes $symbol, newer than glibc $glibc_floor"
  done
fi
for runtime in $(grep -E '^(GLIBCXX|CXXABI|GCC)_' <<<"$versions" || true); do
  fault "takes symbols of version $runtime (a C++ or GCC runtime library)"
done

echo "NEEDED: $(echo $needed)"
echo "newest glibc symbol version: GLIBC_$newest (the floor is $glibc_floor)"
((faults == 0))
