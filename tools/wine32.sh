#!/usr/bin/env bash
# Wine's 32-bit part for the tests, unpacked into a folder of its own beside Debian's 64-bit Wine.
#
#   tools/wine32.sh install   (root) unpack it, if it is not there yet for this Wine's version
#   tools/wine32.sh where     print its folder; or, with exit status 1, why there is none
#
# Debian's wine32:i386 needs, for every library of its set that is Multi-Arch "same", the i386
# and the amd64 package at one version. Where the i386 index of a suite cannot be had (a mirror
# whose i386 security index fails its size check), the amd64 libraries that came from that
# suite have no i386 twin: installing wine32:i386 would mean downgrading them, for every user of
# the machine, and holding back their security updates from then on. The unpacked copy changes
# no installed package. Its files are Debian's own: apt-get download checks each package
# against the archive's signed indexes, and dpkg-deb unpacks it. It takes the i386 libraries at
# the versions the i386 indexes have, and Wine's 32-bit part at the very version of the
# installed 64-bit Wine, which the copy's 64-bit loader (the wine64 of that version) starts the
# 32-bit one beside it for. Only libc6:i386, the loader of every 32-bit program, is installed,
# and only at the version of the amd64 libc6 (apt's --no-remove and, without
# --allow-downgrades, its refusal to downgrade keep it from changing anything else).
set -euo pipefail

root=${OSKEL_WINE32_ROOT:-/opt/oskel-wine32}
stamp="$root/.oskel-wine32"

system_wine_version() { dpkg-query -W -f='${Version}' wine64 2>/dev/null; }

# Prints the folder of a complete copy for the installed Wine, or why there is none (exit 1).
where() {
  local version
  if ! version=$(system_wine_version) || [[ -z $version ]]; then
    echo "Debian's 64-bit Wine (wine64) is not installed"
    return 1
  fi
  if [[ ! -f $stamp ]]; then
    echo "Wine's 32-bit part is not unpacked in $root (tools/setup.sh unpacks it where 32-bit programs run)"
    return 1
  fi
  if [[ $(cat "$stamp") != "$version" ]]; then
    echo "Wine's 32-bit part in $root is of Wine $(cat "$stamp"), the installed Wine is $version (tools/setup.sh unpacks it again)"
    return 1
  fi
  if [[ ! -x /lib/ld-linux.so.2 ]]; then
    echo "libc6:i386 is not installed (tools/setup.sh installs it)"
    return 1
  fi
  echo "$root"
}

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# libc6:i386 at the amd64 libc6's version, with nothing removed or downgraded.
install_libc6_i386() {
  local version
  version=$(dpkg-query -W -f='${Version}' libc6:amd64)
  if [[ $(dpkg-query -W -f='${db:Status-Abbrev}' libc6:i386 2>/dev/null) == "ii " ]]; then return 0; fi
  if ! apt-cache madison libc6:i386 | awk -F'|' '{gsub(/ /, "", $2); print $2}' | grep -qxF "$version"; then
    echo "setup: the i386 indexes have no libc6 $version (the amd64 libc6's version)" >&2
    return 1
  fi
  apt_get install -y -qq --no-install-recommends --no-remove "libc6:i386=$version"
}

install() {
  local version
  version=$(system_wine_version) || { echo "setup: wine64 is not installed" >&2; return 1; }
  if where >/dev/null; then return 0; fi
  if [[ -z $(apt-cache madison "libwine:i386" 2>/dev/null) ]]; then
    apt_get update -qq || true
  fi
  for package in wine32 libwine; do
    if ! apt-cache madison "$package:i386" | awk -F'|' '{gsub(/ /, "", $2); print $2}' | grep -qxF "$version"; then
      echo "setup: the i386 indexes have no $package $version (the installed Wine's version)" >&2
      return 1
    fi
  done
  install_libc6_i386 || return 1

  # The 64-bit loader, and the i386 packages of Wine's 32-bit part and the libraries it depends
  # on (not what it only recommends), less those the system has installed for i386 already.
  local closure names=("wine64:amd64=$version")
  closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "wine32:i386=$version" | sed -n 's/^\([^ <][^ ]*\):i386$/\1/p' | sort -u)
  for package in $closure; do
    [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$package:i386" 2>/dev/null) == "ii " ]] && continue
    case $package in
      wine32 | libwine) names+=("$package:i386=$version") ;;
      *) names+=("$package:i386") ;;
    esac
  done

  local work
  work=$(mktemp -d "$root.new.XXXXXX")
  trap 'rm -rf "$work"' RETURN
  mkdir "$work/debs" "$work/root"
  echo "setup: unpacking Wine $version's 32-bit part (${#names[@]} packages) into $root"
  (cd "$work/debs" && apt-get -qq -o APT::Sandbox::User=root download "${names[@]}")
  for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/root"; done

  local tree="$work/root"
  # What libwine's maintainer script does: Wine's builtin zlib, made from MinGW's DLLs.
  for arch in i686:i386 x86_64:x86_64; do
    local dll
    dll=$(echo /usr/"${arch%%:*}"-w64-mingw32/lib/zlib*.dll)
    {
      head -c 64 "$dll"
      printf 'Wine builtin DLL'
      printf '\0%.0s' {1..16}
      tail -c +97 "$dll"
    } >"$tree/usr/lib/i386-linux-gnu/wine/${arch##*:}-windows/${dll##*/}"
  done
  # The copy's wine64 finds its 64-bit part where the installed Wine keeps it.
  mkdir -p "$tree/usr/lib/x86_64-linux-gnu"
  ln -s /usr/lib/x86_64-linux-gnu/wine "$tree/usr/lib/x86_64-linux-gnu/wine"
  if ! cmp -s "$tree/usr/lib/wine/wine64" /usr/lib/wine/wine64; then
    echo "setup: the archive's wine64 $version differs from the installed one" >&2
    return 1
  fi
  local said
  if ! said=$(LD_LIBRARY_PATH="$tree/usr/lib/i386-linux-gnu:$tree/lib/i386-linux-gnu" \
    "$tree/usr/lib/wine/wine" --version 2>&1); then
    echo "setup: the unpacked 32-bit Wine does not start: $said" >&2
    return 1
  fi
  echo "$version" >"$tree/.oskel-wine32"
  rm -rf "$root"
  mv "$tree" "$root"
  echo "setup: $said, 32-bit, in $root"
}

case "${1:-}" in
  install) install ;;
  where) where ;;
  *) echo "usage: $0 install|where" >&2; exit 2 ;;
esac
