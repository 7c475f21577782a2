#!/usr/bin/env bash
# Builds fwupd's fwupdtool from Debian's fwupd 2.0.20 source with the project's plugin
# (fwupd/oskel-controller/) in its tree, and the plugin's self-test:
#
#   tools/build-fwupd.sh [--without-udevd]
#
# Everything lives under build/fwupd/ and is kept for the next run, which only rebuilds what
# changed (the plugin, mostly):
#   build/fwupd/fwupd-2.0.20/            the source, from `apt-get source fwupd`, with the plugin
#                                        linked in as plugins/oskel-controller and named in
#                                        plugins/meson.build, and one fix of fwupd's
#                                        (tools/fwupd-udev-backend-first.patch)
#   build/fwupd/build/src/fwupdtool      the program
#   build/fwupd/build/plugins/oskel-controller/oskel-controller-self-test
#
# The source comes from the archive that the machine's own `deb` entries name: the script hands
# apt a copy of them with a `deb-src` twin of each, in a folder of its own, so that the machine's
# package sources stay as they are; the source index it fetched is deleted again. The build
# dependencies are installed (apt-get build-dep) only when dpkg-checkbuilddeps finds some missing.
#
# --without-udevd configures fwupd to read the kernel's device events itself
# (-Dudev_hotplug=false), for a system where no udevd runs; the test machine runs one.
#
# The last line printed is the path of fwupdtool.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

upstream_version=2.0.20
cache=build/fwupd
source_dir=$cache/fwupd-$upstream_version
build_dir=$cache/build
plugin=oskel-controller
udev_hotplug=true
case ${1:-} in
  "") ;;
  --without-udevd) udev_hotplug=false ;;
  *) echo "usage: $0 [--without-udevd]" >&2; exit 2 ;;
esac

say() { printf 'build-fwupd: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }
elapsed() { echo "$(($(date +%s) - $1)) s"; }
started=$(date +%s)

sudo_if_needed=()
[[ $(id -u) -eq 0 ]] || sudo_if_needed=(sudo)

# ---- apt, with the machine's sources and their deb-src twins, never the machine's own lists ----
apt_dir=
cleanup_apt() {
  [[ -n $apt_dir ]] || return 0
  # The source index apt fetched for us: the machine's own configuration never asks for it.
  "${sudo_if_needed[@]}" find /var/lib/apt/lists -maxdepth 1 -name '*_source_Sources*' -delete 2>/dev/null || true
  rm -rf "$apt_dir"
}
trap cleanup_apt EXIT

make_apt_dir() {
  apt_dir=$(mktemp -d)
  mkdir -p "$apt_dir/parts"
  local file
  for file in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    [[ -f $file ]] && cp "$file" "$apt_dir/parts/"
  done
  [[ -f /etc/apt/sources.list ]] && cp /etc/apt/sources.list "$apt_dir/parts/sources.list.list"
  # A deb-src twin of every deb entry of Debian's main archive (deb822 stanzas and one-line
  # entries alike); the security archive has the same source versions or none.
  {
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[ \t]*deb([ \t]|\n|$)/ && /URIs:[^\n]*\/debian\/?([ \t]|\n|$)/ {
           sub(/Types:[ \t]*deb/, "Types: deb-src"); print }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true
  } >"$apt_dir/parts/oskel-deb-src.sources"
  {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true
  } | awk '$1 == "deb" && $0 ~ /\/debian\/? / { $1 = "deb-src"; print }' >"$apt_dir/parts/oskel-deb-src.list"
  [[ -s $apt_dir/parts/oskel-deb-src.sources || -s $apt_dir/parts/oskel-deb-src.list ]] ||
    die "no deb entry of Debian's archive in /etc/apt to make a deb-src entry from"
}

apt_options() {
  echo -o "Dir::Etc::sourcelist=/dev/null" -o "Dir::Etc::sourceparts=$apt_dir/parts" \
    -o "APT::Get::List-Cleanup=false" -o "DPkg::Lock::Timeout=600"
}

# apt-get update with those sources: the mirror's i386 index may fail its size check while a sync
# runs, which makes apt-get update fail; what counts is that fwupd's source index came.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    # shellcheck disable=SC2046
    "${sudo_if_needed[@]}" apt-get $(apt_options) update -qq >&2 || say "apt-get update failed (attempt $attempt of 3)"
    # shellcheck disable=SC2046
    apt-get $(apt_options) source --print-uris fwupd >/dev/null 2>&1 && return 0
    sleep $((attempt * 20))
  done
  die "apt-get update did not fetch fwupd's source index"
}

# ---- the source ----
if [[ ! -f $source_dir/.oskel-source ]]; then
  make_apt_dir
  apt_update
  say "fetching fwupd's source (apt-get source fwupd)"
  rm -rf "$cache/fetch"
  mkdir -p "$cache/fetch"
  # shellcheck disable=SC2046
  (cd "$cache/fetch" && apt-get $(apt_options) source -qq fwupd >&2) || die "apt-get source fwupd failed"
  fetched=$(cd "$cache/fetch" && ls -d fwupd-*/ 2>/dev/null | head -n 1)
  [[ ${fetched%/} == fwupd-$upstream_version ]] ||
    die "the archive has ${fetched%/} (no fwupd $upstream_version): the plugin is made for $upstream_version"
  debian_version=$(cd "$cache/fetch" && ls fwupd_*.dsc | sed 's/^fwupd_\(.*\)\.dsc$/\1/')
  rm -rf "$source_dir"
  mv "$cache/fetch/fwupd-$upstream_version" "$source_dir"
  rm -rf "$cache/fetch"
  echo "$debian_version" >"$source_dir/.oskel-source"
  say "fwupd $debian_version unpacked ($(elapsed "$started"))"
fi

if ! (cd "$source_dir" && dpkg-checkbuilddeps >/dev/null 2>&1); then
  [[ -n $apt_dir ]] || { make_apt_dir; apt_update; }
  say "installing fwupd's build dependencies (apt-get build-dep fwupd)"
  # shellcheck disable=SC2046
  DEBIAN_FRONTEND=noninteractive "${sudo_if_needed[@]}" apt-get $(apt_options) build-dep -y -qq fwupd >"$cache/apt.log" 2>&1 ||
    die "apt-get build-dep fwupd failed"
  say "build dependencies installed ($(elapsed "$started"))"
fi
cleanup_apt
apt_dir=

# ---- fwupd's own fault that the plugin's tests meet ----
# With Debian 12's libusb 1.0.26, every command that writes loses fwupd's udev backend, and with it
# every USB device (tools/fwupd-udev-backend-first.patch says why); the patch is fwupd's later fix.
patch_file=$root/tools/fwupd-udev-backend-first.patch
if ! patch -d "$source_dir" -p1 -R --dry-run -s -f <"$patch_file" >/dev/null 2>&1; then
  patch -d "$source_dir" -p1 -N -s <"$patch_file" || die "cannot apply $patch_file to fwupd's source"
fi

# ---- the plugin in fwupd's tree ----
link=$source_dir/plugins/$plugin
if [[ ! -L $link ]]; then
  rm -rf "$link"
  ln -s "../../../../fwupd/$plugin" "$link"
fi
[[ -f $link/meson.build ]] || die "$link does not lead to the plugin (fwupd/$plugin)"
# plugins/meson.build lists the plugin folders, one a line ("  'name': false,"), in alphabetical
# order; each folder's meson.build marks itself built.
if ! grep -q "^  '$plugin': false,$" "$source_dir/plugins/meson.build"; then
  grep -q "^  'nvme': false,$" "$source_dir/plugins/meson.build" || die "plugins/meson.build has no list to add $plugin to"
  sed -i "s/^  'nvme': false,$/  'nvme': false,\n  '$plugin': false,/" "$source_dir/plugins/meson.build"
fi

# ---- configure and build ----
# The options of a small build: fwupdtool and its plugins, without the daemon's services, the
# documentation and the optional libraries. /usr/bin/python3, not a python3 of the caller's PATH:
# fwupd's build scripts need Debian's Python modules.
options=(
  --prefix=/usr --libdir=lib/x86_64-linux-gnu --sysconfdir=/etc --localstatedir=/var --buildtype=plain
  -Dbuild=standalone -Ddocs=disabled -Dman=false -Dtests=true -Dumockdev_tests=disabled
  -Dintrospection=disabled -Dgnutls=disabled -Dpolkit=disabled -Dsystemd=disabled -Dbluez=disabled
  -Dhsi=disabled -Dplugin_flashrom=disabled -Dplugin_modem_manager=disabled
  -Dplugin_uefi_capsule_splash=false -Dlibdrm=disabled -Dprotobuf=disabled -Dpassim=disabled
  -Dcbor=disabled -Dlibmnl=disabled -Dblkid=disabled -Dvalgrind=disabled -Dreadline=disabled
  -Dlibarchive=disabled -Dbash_completion=false -Dfish_completion=false -Dfirmware-packager=false
  -Dmetainfo=false -Dlvfs=disabled -Dsupported_build=disabled -Dpython=/usr/bin/python3
  -Dudev_hotplug=$udev_hotplug
)
configured="${options[*]}"
if [[ ! -f $build_dir/build.ninja || "$(cat "$build_dir/.oskel-options" 2>/dev/null)" != "$configured" ]]; then
  say "configuring"
  rm -rf "$build_dir"
  PATH=/usr/bin:/bin:/usr/sbin:/sbin meson setup "$build_dir" "$source_dir" "${options[@]}" >"$cache/configure.log" 2>&1 ||
    { tail -n 30 "$cache/configure.log" >&2; die "meson setup failed (whole log: $cache/configure.log)"; }
  echo "$configured" >"$build_dir/.oskel-options"
fi
self_test=plugins/$plugin/$plugin-self-test
say "building fwupdtool and the plugin's self-test (ninja -j2)"
PATH=/usr/bin:/bin:/usr/sbin:/sbin ninja -C "$build_dir" -j2 src/fwupdtool builtin.quirk.gz "$self_test" >"$cache/build.log" 2>&1 ||
  { grep -E -A 8 'error|warning' "$cache/build.log" | head -n 60 >&2; die "the build failed (whole log: $cache/build.log)"; }
say "built in $(elapsed "$started")"
echo "$root/$build_dir/src/fwupdtool"
