#!/usr/bin/env bash
# The tarball's install.sh into trees on the build machine (--root): what it puts where on a
# system with a writable /usr and on SteamOS, that a second run changes nothing, that --uninstall
# leaves the tree as it was, and what it refuses. Its run on a live system (a read-only /usr,
# udev applying the rules) is the VM's tarball-install scenario.
#   tests/oskel_update/install_tree.sh PROGRAM SOURCE-DIR
set -uo pipefail
program=${1:?usage: install_tree.sh PROGRAM SOURCE-DIR}
source_dir=${2:?usage: install_tree.sh PROGRAM SOURCE-DIR}
work=$(mktemp -d /tmp/oskel-install-tree.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $what"; fi
}
contains() { grep -qF -- "$2" "$1"; }

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\)[ )].*/\1/p' "$source_dir/CMakeLists.txt")
tarball=$(SOURCE_DATE_EPOCH=0 bash "$source_dir/tools/make-tarball.sh" "$program" "$version" "$work") || exit 1
tar -xzf "$tarball" -C "$work"
installer=$work/oskel-update-$version-linux-x86_64/install.sh

# snapshot TREE: each path with its mode, owner and (for a file) digest.
snapshot() {
  (cd "$1" && find . -printf '%M %U:%G %p\n' | sort -k3 | while read -r mode owner path; do
    if [[ -f $path ]]; then echo "$mode $owner $(md5sum <"$path" | cut -c1-32) $path"; else echo "$mode $owner $path"; fi
  done)
}
# run NAME ARGS...: install.sh with ARGS, its outcome in $work/NAME.{out,err,exit}.
run() {
  local name=$1
  shift
  "$installer" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.exit"
}
exit_is() { [[ $(cat "$work/$1.exit") == "$2" ]]; }

# A system with a writable /usr: another package's rule beside ours, a file of its own in /etc.
tree=$work/debian
mkdir -p "$tree/etc/udev/rules.d" "$tree/usr/bin"
echo 'SUBSYSTEM=="hidraw", GROUP="input"' >"$tree/etc/udev/rules.d/50-other.rules"
echo 'root:x:0:0:root:/root:/bin/sh' >"$tree/etc/passwd"
snapshot "$tree" >"$work/debian-before.txt"
run install --root "$tree"
check "install: exits with 0 ($(cat "$work/install.err"))" exit_is install 0
check "install: the program in /usr/local/bin, executable" test -x "$tree/usr/local/bin/oskel-update"
check "install: the same bytes as the program built" cmp -s "$program" "$tree/usr/local/bin/oskel-update"
check "install: the rules in /etc/udev/rules.d, readable by all" \
  test "$(stat -c %a "$tree/etc/udev/rules.d/70-oskel-update.rules")" = 644
check "install: the manual page and the AppStream file under /usr/local/share" \
  test -f "$tree/usr/local/share/man/man1/oskel-update.1" -a -f "$tree/usr/local/share/metainfo/invalid.oskel.oskel_update.metainfo.xml"
check "install: no SteamOS keep list where the system has none" test ! -e "$tree/etc/atomic-update.conf.d"
made="d /usr/local d /usr/local/bin f /usr/local/bin/oskel-update d /usr/local/share d /usr/local/share/man
d /usr/local/share/man/man1 f /usr/local/share/man/man1/oskel-update.1 d /usr/local/share/metainfo
f /usr/local/share/metainfo/invalid.oskel.oskel_update.metainfo.xml f /etc/udev/rules.d/70-oskel-update.rules
d /etc/oskel-update f /etc/oskel-update/installed"
check "install: the list of what it made names the files and the folders it made, not those there before" \
  test "$(tr '\n' ' ' <"$tree/etc/oskel-update/installed")" = "$(echo $made) "
snapshot "$tree" >"$work/debian-installed.txt"
run again --root "$tree"
check "again: exits with 0" exit_is again 0
check "again: each file was installed already" test "$(grep -c ': already installed$' "$work/again.out")" = 4
snapshot "$tree" >"$work/debian-again.txt"
check "again: the tree did not change" cmp -s "$work/debian-installed.txt" "$work/debian-again.txt"
run uninstall --root "$tree" --uninstall
check "uninstall: exits with 0" exit_is uninstall 0
snapshot "$tree" >"$work/debian-after.txt"
check "uninstall: the tree is as it was before ($(diff "$work/debian-before.txt" "$work/debian-after.txt" | tr '\n' ' '))" \
  cmp -s "$work/debian-before.txt" "$work/debian-after.txt"
run uninstall-again --root "$tree" --uninstall
check "uninstall again: nothing to remove, exit 0" exit_is uninstall-again 0
check "uninstall again: says so" contains "$work/uninstall-again.out" "nothing to remove"

# SteamOS: /usr is replaced by each update, so the program goes to the home of the user who ran it.
tree=$work/steamos
mkdir -p "$tree/etc/atomic-update.conf.d" "$tree/home/deck" "$tree/usr/local/bin"
echo 'ID=steamos' >"$tree/etc/os-release"
printf 'root:x:0:0:root:/root:/bin/sh\ndeck:x:1000:1001:deck:/home/deck:/bin/bash\n' >"$tree/etc/passwd"
snapshot "$tree" >"$work/steamos-before.txt"
run as-root --root "$tree"
check "SteamOS as root without --user: refused, exit 1" exit_is as-root 1
check "SteamOS as root without --user: says to name the user" contains "$work/as-root.err" "--user NAME"
snapshot "$tree" >"$work/steamos-refused.txt"
check "SteamOS as root without --user: nothing written" cmp -s "$work/steamos-before.txt" "$work/steamos-refused.txt"
run steamos --root "$tree" --user deck
check "SteamOS: exits with 0 ($(cat "$work/steamos.err"))" exit_is steamos 0
check "SteamOS: the program in ~deck/.local/bin, not /usr/local/bin" \
  test -x "$tree/home/deck/.local/bin/oskel-update" -a ! -e "$tree/usr/local/bin/oskel-update"
if [[ $(id -u) == 0 ]]; then
  check "SteamOS: ~/.local and the program are deck's" \
    test "$(stat -c %u:%g "$tree/home/deck/.local" "$tree/home/deck/.local/bin/oskel-update" | sort -u)" = 1000:1001
fi
check "SteamOS: the keep list names the rules, the list of what was made and itself" \
  test "$(cat "$tree/etc/atomic-update.conf.d/oskel-update.conf" | tr '\n' ' ')" = \
  "/etc/udev/rules.d/70-oskel-update.rules /etc/oskel-update/installed /etc/atomic-update.conf.d/oskel-update.conf "
run steamos-uninstall --root "$tree" --uninstall
snapshot "$tree" >"$work/steamos-after.txt"
check "SteamOS uninstall: the tree is as it was before, keep list gone" cmp -s "$work/steamos-before.txt" "$work/steamos-after.txt"

# What it refuses: a tarball unpacked in part, and an unknown option.
rm "$work/oskel-update-$version-linux-x86_64/oskel-update.1"
run partial --root "$work/debian"
check "a file missing beside install.sh: refused, exit 1" exit_is partial 1
check "a file missing beside install.sh: named" contains "$work/partial.err" "oskel-update.1 is missing beside install.sh"
run unknown --frobnicate
check "an unknown option: exit 2" exit_is unknown 2

# A user without the rights asks for them: pkexec where there is one, else sudo; on SteamOS it
# says that passwd sets the password sudo and pkexec ask for. The stand-ins refuse as pkexec does
# when the request is dismissed (126) and as sudo does when the password is wrong (1).
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null; then
  cp "$source_dir/res/linux/oskel-update.1" "$work/oskel-update-$version-linux-x86_64/"
  mkdir -p "$work/with-pkexec" "$work/with-sudo"
  printf '#!/bin/sh\necho "$@" >%s/pkexec.args\nexit 126\n' "$work" >"$work/with-pkexec/pkexec"
  printf '#!/bin/sh\necho "$@" >%s/sudo.args\nexit 1\n' "$work" >"$work/with-sudo/sudo"
  chmod 755 "$work/with-pkexec/pkexec" "$work/with-sudo/sudo"
  chmod 777 "$work"
  as_nobody() {
    local name=$1 path=$2
    shift 2
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- env PATH="$path:/usr/bin:/bin" "$installer" "$@" \
      >"$work/$name.out" 2>"$work/$name.err"
    echo $? >"$work/$name.exit"
  }
  no_sudo=$work/no-sudo
  mkdir -p "$no_sudo"
  as_nobody pkexec "$work/with-pkexec" --root "$tree"
  check "without rights: refused when pkexec was dismissed, exit 1" exit_is pkexec 1
  check "without rights: asked pkexec" contains "$work/pkexec.out" "asking for the rights to install oskel-update (pkexec)"
  check "without rights: pkexec runs install.sh again for this user and tree" \
    test "$(cat "$work/pkexec.args" 2>/dev/null)" = "/bin/sh $installer --user nobody --root $tree"
  check "without rights, on SteamOS: says that passwd sets the password" contains "$work/pkexec.out" "passwd"
  if ! command -v pkexec >/dev/null; then
    as_nobody sudo "$work/with-sudo" --root "$tree" --uninstall
    check "without pkexec: asked sudo" contains "$work/sudo.out" "asking for the rights to uninstall oskel-update (sudo)"
    check "without pkexec: sudo runs install.sh again" \
      test "$(cat "$work/sudo.args" 2>/dev/null)" = "/bin/sh $installer --user nobody --root $tree --uninstall"
    check "without pkexec: sudo's refusal ends it, exit 1" exit_is sudo 1
  fi
fi

echo "install.sh in trees: $passed passed, $failed failed"
((failed == 0))
