#!/usr/bin/env bash
# The build embeds only the images it was told to expect (cmake/images.cmake): configures the
# project (host compiler; the check runs before any target) with image files of its own and checks
# that each wrong one is refused with a message that names it, and that a right one is accepted.
#   tests/release/firmware_images.sh
set -uo pipefail
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d /tmp/oskel-images-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# configure SOURCE BUILD ARGS...: configures into BUILD, output in BUILD.out
configure() {
  local source=$1 build=$2
  shift 2
  cmake -S "$source" -B "$build" "$@" >"$build.out" 2>&1
}

# refused WHAT FILE PHRASE ARGS...: the configure must fail, naming FILE and saying PHRASE.
refused() {
  local what=$1 file=$2 phrase=$3
  shift 3
  checks=$((checks + 1))
  local build="$work/build-$checks"
  if configure "$source_dir" "$build" "$@"; then
    fail "$what: accepted"
    return
  fi
  # CMake wraps long messages: join the lines of the error before looking.
  local message
  message="$(tr -s ' \n' ' ' <"$build.out")"
  [[ "$message" == *"$file"* ]] || fail "$what: the message does not name $file: $(grep -A3 'CMake Error' "$build.out")"
  [[ "$message" == *"$phrase"* ]] || fail "$what: the message does not say '$phrase': $(grep -A3 'CMake Error' "$build.out")"
}

digest() { sha256sum "$1" | cut -d' ' -f1; }

mkdir -p "$work/images"
image1="$work/images/maker-mode1.bin"
head -c 30000 /dev/urandom >"$image1"
image2="$work/images/maker-mode2.bin"
head -c 20000 /dev/urandom >"$image2"
empty="$work/images/empty.bin"
: >"$empty"
large="$work/images/large.bin"
head -c 32770 /dev/urandom >"$large"  # one byte over the 32769-byte buffer of modes 1 and 2

refused "an image not in res/firmware/SHA256SUMS without its digest" "$image1" "-DOSKEL_IMAGE_MODE1_SHA256=" \
  -DOSKEL_IMAGE_MODE1="$image1"
refused "an image whose digest differs from the one given" "$image2" "expects $(digest "$image1")" \
  -DOSKEL_IMAGE_MODE2="$image2" -DOSKEL_IMAGE_MODE2_SHA256="$(digest "$image1")"
refused "an empty image" "$empty" "is empty" \
  -DOSKEL_IMAGE_MODE3="$empty" -DOSKEL_IMAGE_MODE3_SHA256="$(digest "$empty")"
refused "an image too large for its buffer" "$large" "its buffer holds at most 32769" \
  -DOSKEL_IMAGE_MODE2="$large" -DOSKEL_IMAGE_MODE2_SHA256="$(digest "$large")"
refused "a malformed digest" "$image1" "must be 64 hexadecimal digits" \
  -DOSKEL_IMAGE_MODE1="$image1" -DOSKEL_IMAGE_MODE1_SHA256="$(digest "$image1" | cut -c 1-63)"

# A listed image cut short in a copy of the tree (the check runs before any source is needed).
tree="$work/tree"
mkdir -p "$tree/res"
cp -r "$source_dir/CMakeLists.txt" "$source_dir/cmake" "$tree/"
cp -r "$source_dir/res/firmware" "$tree/res/"
head -c 100000 "$source_dir/res/firmware/mode3.bin" >"$tree/res/firmware/mode3.bin"
checks=$((checks + 1))
if configure "$tree" "$work/build-truncated"; then
  fail "a truncated listed image: accepted"
else
  message="$(tr -s ' \n' ' ' <"$work/build-truncated.out")"
  [[ "$message" == *"$tree/res/firmware/mode3.bin has 100000 bytes; res/firmware/SHA256SUMS lists 195933"* ]] ||
    fail "a truncated listed image: $(grep -A3 'CMake Error' "$work/build-truncated.out")"
fi

# Right images with their digests (upper-case accepted) are embedded, and the build lists them.
checks=$((checks + 1))
accepted="$work/build-accepted"
if configure "$source_dir" "$accepted" -DOSKEL_IMAGE_MODE1="$image1" -DOSKEL_IMAGE_MODE2="$image2" \
    -DOSKEL_IMAGE_MODE1_SHA256="$(digest "$image1" | tr a-f A-F)" -DOSKEL_IMAGE_MODE2_SHA256="$(digest "$image2")"; then
  (cd / && sha256sum --quiet -c "$accepted/firmware-images.sha256") || fail "firmware-images.sha256 does not match the images"
  grep -q "^$(digest "$image1")  $image1$" "$accepted/firmware-images.sha256" || fail "mode 1 is not listed as $image1"
  grep -q "^$(digest "$source_dir/res/firmware/mode3.bin")  $source_dir/res/firmware/mode3.bin$" \
    "$accepted/firmware-images.sha256" || fail "mode 3 is not listed as the project's own image"

  # An image that changes after configuring is checked again by the next build, which refuses it.
  checks=$((checks + 1))
  printf 'x' >>"$image1"
  if cmake --build "$accepted" --target oskel_core >"$accepted.build.out" 2>&1; then
    fail "an image changed after configuring: the build went on"
  else
    message="$(tr -s ' \n' ' ' <"$accepted.build.out")"
    [[ "$message" == *"Firmware image $image1 has SHA-256"* ]] ||
      fail "an image changed after configuring: $(grep -A3 'CMake Error' "$accepted.build.out")"
  fi
else
  fail "right images with their digests: refused: $(grep -A3 'CMake Error' "$accepted.out")"
fi

echo "firmware images: $((checks - failures)) passed, $failures failed"
((failures == 0))
