# What fwupd's scenarios add to the test machine's initramfs (test rig only; sourced by
# make_initramfs.sh, which sets root, here, source_dir and images):
#
#   add_fwupd FWUPDTOOL
#
# fwupdtool of fwupd's build folder (tools/build-fwupd.sh) under /rig/fwupd, its own libraries
# beside it as in the build folder (their run paths are relative to it) and the system's at their
# paths, all stripped; the quirks of every plugin where fwupd looks for them; the folders fwupd
# writes; a cabinet of each mode's image as the release makes it (tools/make-cab.sh) in
# /rig/fwupd/cabs; and the scenarios (fwupd_scenarios.sh).
add_fwupd() {
  local fwupdtool=$1 build name arrow path real target version mode
  build=$(cd "$(dirname "$fwupdtool")/.." && pwd)
  mkdir -p "$root/rig/fwupd/src" "$root/rig/fwupd/cabs" "$root/usr/share/fwupd/quirks.d" \
    "$root/var/lib/fwupd" "$root/var/cache/fwupd" "$root/etc/fwupd"
  strip -o "$root/rig/fwupd/src/fwupdtool" "$fwupdtool"
  # "NAME => PATH (ADDRESS)", and the loader's "PATH (ADDRESS)"
  while read -r name arrow path _; do
    [[ $arrow == "=>" ]] || path=$name
    [[ $path == /* ]] || continue
    real=$(readlink -f "$path")
    case $real in
    "$build"/*) target=/rig/fwupd/$(dirname "${real#"$build"/}")/$(basename "$path") ;;
    *) target=$path ;;
    esac
    [[ -e $root$target ]] && continue
    mkdir -p "$root$(dirname "$target")"
    strip --strip-unneeded -o "$root$target" "$real"
  done < <(ldd "$fwupdtool")
  cp "$build/builtin.quirk.gz" "$root/usr/share/fwupd/quirks.d/"

  version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
  for mode in 1 2 3; do
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(date +%s)} \
      bash "$source_dir/tools/make-cab.sh" "$mode" "${images[mode - 1]}" "$version" "$root/rig/fwupd/cabs" >/dev/null
  done
  cp "$here/fwupd_scenarios.sh" "$root/rig/fwupd_scenarios.sh"
}
