#!/bin/sh
# Installs oskel-update from its tarball (oskel-update-<version>-linux-x86_64.tar.gz) on any Linux
# system with udev, SteamOS and Fedora's atomic systems included:
#
#   ./install.sh                  install (asks for the rights it needs: pkexec, else sudo)
#   ./install.sh --uninstall      remove exactly what it installed
#   ./install.sh --root DIR       install into the tree DIR instead (packagers, tests)
#   ./install.sh --prefix DIR     the program in DIR/bin, its manual page in DIR/share/man
#   ./install.sh --user NAME      whose ~/.local the program goes to where /usr is read-only
#
# The program goes to /usr/local/bin; where /usr is read-only or replaced by the system's updates
# (SteamOS), to ~/.local/bin of the user who ran this script. The udev rules go to
# /etc/udev/rules.d/, and on SteamOS a file in /etc/atomic-update.conf.d/ keeps them (and the
# list below) across its updates. udev then reads the rules again and applies them to the
# controllers in an update mode that are plugged in already. What it installed is listed in
# /etc/oskel-update/installed, which --uninstall reads. Running it again changes nothing.
#
# Exit status: 0 done, 1 refused or failed (the reason on standard error), 2 bad usage.
set -eu

program=oskel-update
rules=70-oskel-update.rules
metainfo=invalid.oskel.oskel_update.metainfo.xml
manifest=/etc/oskel-update/installed
keep_file=/etc/atomic-update.conf.d/oskel-update.conf

say() { printf '%s\n' "install.sh: $*"; }
refuse() { printf '%s\n' "install.sh: $*" >&2; exit 1; }
usage() {
  sed -n 's/^#   \(\.\/install\.sh.*\)$/  \1/p' "$0" >&2
  exit 2
}

here=$(cd "$(dirname "$0")" && pwd)
self=$here/$(basename "$0")
root=/
prefix=
user=
action=install
while [ $# -gt 0 ]; do
  case $1 in
  --root) [ $# -ge 2 ] || usage; root=$2; shift ;;
  --root=*) root=${1#--root=} ;;
  --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift ;;
  --prefix=*) prefix=${1#--prefix=} ;;
  --user) [ $# -ge 2 ] || usage; user=$2; shift ;;
  --user=*) user=${1#--user=} ;;
  --uninstall) action=uninstall ;;
  -h | --help) sed -n '2,/^$/s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) printf 'install.sh: unknown option %s\n' "$1" >&2; usage ;;
  esac
  shift
done
case $root in /*) ;; *) root=$(pwd)/$root ;; esac
root=${root%/}
case $prefix in '' | /*) ;; *) refuse "--prefix needs an absolute path, not $prefix" ;; esac
live=no
[ -z "$root" ] && live=yes

# ---- Rights: on the running system, root's; the script runs itself again through pkexec or sudo.

os_id() { sed -n 's/^ID=//p' "$root/etc/os-release" 2>/dev/null | tr -d '"'; }
steamos_note() {
  [ "$(os_id)" = steamos ] || return 0
  say "on SteamOS the password asked for is that of the user $(id -un); if none was ever set, set one"
  say "first with the command passwd (in Konsole, in Desktop Mode), then run ./install.sh again"
}

# Whether this process may write the tree it installs into.
may_write_tree() {
  [ "$(id -u)" = 0 ] && return 0
  [ -w "$root/" ] && [ $live = no ]
}

if ! may_write_tree; then
  [ -n "$user" ] || user=$(id -un)
  set -- --user "$user"
  [ $live = no ] && set -- "$@" --root "$root"
  [ -n "$prefix" ] && set -- "$@" --prefix "$prefix"
  [ $action = uninstall ] && set -- "$@" --uninstall
  status=0
  if command -v pkexec >/dev/null 2>&1; then
    say "asking for the rights to $action $program (pkexec)"
    steamos_note
    pkexec /bin/sh "$self" "$@" || status=$?
    # 126: the request was dismissed; 127: not authorized, or no agent could ask.
    if [ $status = 127 ] && command -v sudo >/dev/null 2>&1; then
      say "pkexec could not get the rights; asking sudo instead"
      status=0
      sudo /bin/sh "$self" "$@" || status=$?
    fi
  elif command -v sudo >/dev/null 2>&1; then
    say "asking for the rights to $action $program (sudo)"
    steamos_note
    sudo /bin/sh "$self" "$@" || status=$?
  else
    refuse "this needs root's rights, and neither pkexec nor sudo is here: run it as root (su -c ./install.sh)"
  fi
  if [ $status != 0 ]; then
    steamos_note >&2
    refuse "$action did not complete (exit status $status)"
  fi
  # Where the program went, and whether this user's PATH finds it there.
  if [ $action = install ] && [ -r "$root$manifest" ]; then
    bin=$(sed -n "s|^f \\(.*\\)/$program\$|\\1|p" "$root$manifest" | tail -n 1)
    case ":$PATH:" in
    *":$bin:"*) ;;
    *) say "$bin is not on your PATH: run $bin/$program, or add it to PATH in ~/.profile:"
       say "  export PATH=\"$bin:\$PATH\"" ;;
    esac
  fi
  exit 0
fi

# ---- From here on this process may write the tree.

# The user who ran the script, through sudo or pkexec too; whose ~/.local takes the program
# where /usr cannot.
if [ -z "$user" ]; then
  if [ -n "${SUDO_USER:-}" ]; then
    user=$SUDO_USER
  elif [ -n "${PKEXEC_UID:-}" ]; then
    user=$( (getent passwd "$PKEXEC_UID" 2>/dev/null || awk -F: -v uid="$PKEXEC_UID" '$3 == uid' /etc/passwd) |
      head -n 1 | cut -d: -f1)
  else
    user=$(id -un)
  fi
fi
passwd_entry() {
  if [ $live = yes ] && getent passwd "$1" 2>/dev/null; then return 0; fi
  grep "^$1:" "$root/etc/passwd" 2>/dev/null
}

# writable DIR: whether files can be made in DIR, or in the nearest folder above it that exists
# (nothing is made here). A read-only mount refuses even root.
writable() {
  at=$1
  while [ ! -d "$at" ]; do at=$(dirname "$at"); done
  probe=$at/.oskel-update-probe.$$
  ( : >"$probe" ) 2>/dev/null || return 1
  rm -f "$probe"
}

# The manifest lists, as the system sees them (without --root's tree in front), "d PATH" for each
# folder the installs made and "f PATH" for each file they put in place. A second install adds
# only what is new, so that --uninstall removes what every install together made.
entries=
if [ -f "$root$manifest" ]; then entries=$(cat "$root$manifest"); fi
record() {
  printf '%s\n' "$entries" | grep -qxF "$1" && return 0
  entries=$(printf '%s\n%s' "$entries" "$1" | sed '/^$/d')
}

# make_dir DIR [OWNER]: DIR and its missing parents, each recorded as made.
make_dir() {
  [ -d "$root$1" ] && return 0
  make_dir "$(dirname "$1")" "${2:-}"
  mkdir "$root$1"
  chmod 755 "$root$1"
  if [ -n "${2:-}" ]; then chown "$2" "$root$1"; fi
  record "d $1"
}

# put SOURCE TARGET MODE [OWNER]: the file in place, unless the same bytes are there already.
put() {
  make_dir "$(dirname "$2")" "${4:-}"
  record "f $2"
  if [ -f "$root$2" ] && cmp -s "$1" "$root$2"; then
    say "$2: already installed"
    return 0
  fi
  cp "$1" "$root$2.new.$$"
  chmod "$3" "$root$2.new.$$"
  if [ -n "${4:-}" ]; then chown "$4" "$root$2.new.$$"; fi
  mv -f "$root$2.new.$$" "$root$2"
  say "$2: installed"
}

# udev reads its rules again and gives the update-mode devices plugged in now their access.
# Which devices those are the rules file says (KERNELS=="BUS:VID:PID.*" for the hidraw nodes,
# idVendor and idProduct for the USB devices).
apply_rules() {
  [ $live = yes ] || return 0
  if [ ! -S /run/udev/control ]; then
    say "udevd does not run now: the rules take effect when it starts"
    return 0
  fi
  udevadm control --reload-rules || refuse "udevadm control --reload-rules failed"
  udevadm control --ping >/dev/null 2>&1 || true
  [ -f "$here/$rules" ] || return 0
  ids=$(sed -n 's/.*KERNELS=="[^:"]*:\([0-9A-Fa-f]\{4\}\):\([0-9A-Fa-f]\{4\}\)\.\*".*/\1:\2/p' "$here/$rules" | tr a-f A-F)
  for uevent in /sys/class/hidraw/hidraw*/device/uevent; do
    [ -f "$uevent" ] || continue
    hid_id=$(sed -n 's/^HID_ID=\([0-9A-F]*\):0000\([0-9A-F]\{4\}\):0000\([0-9A-F]\{4\}\)$/\2:\3/p' "$uevent")
    for id in $ids; do
      if [ "$hid_id" = "$id" ]; then
        udevadm trigger --settle --action=change "${uevent%/device/uevent}" || say "warning: udev did not apply the rules to ${uevent%/device/uevent}"
      fi
    done
  done
  sed -n 's/.*ATTR{idVendor}=="\([0-9a-f]*\)", ATTR{idProduct}=="\([0-9a-f]*\)".*/\1 \2/p' "$here/$rules" |
    while read -r vendor product; do
      udevadm trigger --settle --action=change --subsystem-match=usb --attr-match=idVendor="$vendor" \
        --attr-match=idProduct="$product" || say "warning: udev did not apply the rules to the USB devices $vendor:$product"
    done
  say "udev has read the rules again and applied them to the controllers in an update mode plugged in now"
}

# ---- --uninstall: the files the manifest lists, then the folders it made, deepest first.
if [ $action = uninstall ]; then
  if [ ! -f "$root$manifest" ]; then
    say "nothing to remove: there is no $manifest (install.sh installed nothing here)"
    exit 0
  fi
  writable "$root$manifest" || refuse "$manifest cannot be changed (/etc is read-only here)"
  printf '%s\n' "$entries" | sed -n 's/^f //p' | while read -r file; do
    if [ -f "$root$file" ] || [ -L "$root$file" ]; then
      rm -f "$root$file" || refuse "$file cannot be removed"
      say "$file: removed"
    fi
  done
  printf '%s\n' "$entries" | sed -n 's/^d //p' | sort -r | while read -r folder; do
    rmdir "$root$folder" 2>/dev/null || true
  done
  apply_rules
  say "$program is uninstalled"
  exit 0
fi

# ---- Install: first refuse what cannot be done, before anything is written.
for file in "$program" "$rules" "$program.1" "$metainfo"; do
  [ -f "$here/$file" ] || refuse "$file is missing beside install.sh: unpack the whole tarball and run its own install.sh"
done
if [ $live = yes ] && ! command -v udevadm >/dev/null 2>&1; then
  refuse "this system has no udev (no udevadm): the rules that let the user at the seat open the controllers cannot work here; run $program as root instead"
fi
writable "$root/etc/udev/rules.d" ||
  refuse "/etc/udev/rules.d cannot be written (/etc is read-only here): the udev rules cannot be installed"

# Where the program goes: --prefix; else /usr/local, unless /usr cannot be written or is replaced by
# the system's updates (SteamOS: where /etc/atomic-update.conf.d exists); else ~/.local of the user.
owner=
if [ -n "$prefix" ]; then
  writable "$root$prefix" || refuse "$prefix cannot be written"
elif [ ! -d "$root/etc/atomic-update.conf.d" ] && writable "$root/usr/local/bin"; then
  prefix=/usr/local
else
  why="/usr is read-only here"
  [ -d "$root/etc/atomic-update.conf.d" ] && why="/usr is replaced by each update of this system"
  [ "$user" != root ] ||
    refuse "$why, and the program would go to root's ~/.local/bin: name the user who runs it (--user NAME) or a place on its PATH (--prefix DIR)"
  entry=$(passwd_entry "$user") || refuse "there is no user $user"
  home=$(printf '%s' "$entry" | cut -d: -f6)
  [ -d "$root$home" ] || refuse "the home folder $home of $user does not exist"
  prefix=$home/.local
  owner=$(printf '%s' "$entry" | cut -d: -f3,4)
  writable "$root$prefix/bin" || refuse "$why, and $prefix/bin cannot be written"
  say "$why: the program goes to $prefix/bin, for $user"
fi

put "$here/$program" "$prefix/bin/$program" 755 "$owner"
put "$here/$program.1" "$prefix/share/man/man1/$program.1" 644 "$owner"
put "$here/$metainfo" "$prefix/share/metainfo/$metainfo" 644 "$owner"
put "$here/$rules" "/etc/udev/rules.d/$rules" 644
# SteamOS keeps of /etc across its updates only the files that a list names.
keep_list=$(mktemp)
trap 'rm -f "$keep_list"' EXIT
if [ -d "$root/etc/atomic-update.conf.d" ]; then
  printf '%s\n' "/etc/udev/rules.d/$rules" "$manifest" "$keep_file" >"$keep_list"
  put "$keep_list" "$keep_file" 644
fi

# The manifest last, listing itself: an install that stopped half-way leaves nothing unlisted
# but what the next run puts in place again.
make_dir "$(dirname "$manifest")"
record "f $manifest"
printf '%s\n' "$entries" >"$keep_list"
if ! cmp -s "$keep_list" "$root$manifest" 2>/dev/null; then
  cp "$keep_list" "$root$manifest.new.$$"
  chmod 644 "$root$manifest.new.$$"
  mv -f "$root$manifest.new.$$" "$root$manifest"
fi

apply_rules
say "$program is installed: $prefix/bin/$program (man $program); ./install.sh --uninstall removes it"
