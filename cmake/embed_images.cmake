# Script mode: writes a C++ source that holds the three image files as byte arrays, each with its
# size and SHA-256 as this build computed them.
# -DOUT=file -DMODE1=... -DMODE2=... -DMODE3=...
set(content "// Generated from the firmware image files; do not edit.\n#include <cstddef>\n#include <cstdint>\n\n")
foreach(n 1 2 3)
  file(READ "${MODE${n}}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
  string(APPEND content "extern const std::uint8_t kEmbeddedImage${n}[] = {\n${bytes}0};\n")
  string(APPEND content "extern const std::size_t kEmbeddedImage${n}Size = ${size};\n")
  file(SHA256 "${MODE${n}}" digest)
  string(APPEND content "extern const char kEmbeddedImage${n}Sha256[] = \"${digest}\";\n\n")
endforeach()
file(WRITE "${OUT}.tmp" "${content}")
file(RENAME "${OUT}.tmp" "${OUT}")
