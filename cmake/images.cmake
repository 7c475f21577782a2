# Checks the firmware image files that the build embeds, before anything is built with them.
#
# res/firmware/SHA256SUMS lists the images a release may carry: each one's SHA-256 and, on the
# comment line above it, its size in bytes (`sha256sum -c SHA256SUMS` in res/firmware/ checks the
# digests too). An image file that is not listed there needs its digest on the command line,
# -DOSKEL_IMAGE_MODE<n>_SHA256=<64 hexadecimal digits>. The build refuses a missing or empty
# file, one larger than the buffer it is loaded into, and one whose size or digest differs from
# what is expected of it, naming the file.
#
# The image files are configure dependencies: when one changes after configuring, the next build
# configures again and so checks it again.
#
# Writes ${CMAKE_BINARY_DIR}/firmware-images.sha256, the digests of the images the build embeds
# (tools/release.sh prints it; `sha256sum -c` reads it).

set(OSKEL_IMAGE_LIST "${CMAKE_SOURCE_DIR}/res/firmware/SHA256SUMS")
set(OSKEL_IMAGE_MANIFEST "${CMAKE_BINARY_DIR}/firmware-images.sha256")
set(OSKEL_SHA256_HEX_DIGITS 64)

foreach(n 1 2 3)
  set(OSKEL_IMAGE_MODE${n}_SHA256 "" CACHE STRING
      "SHA-256 of OSKEL_IMAGE_MODE${n}; required when that file is not listed in res/firmware/SHA256SUMS")
endforeach()

function(oskel_is_sha256 text out)
  string(LENGTH "${text}" length)
  if(length EQUAL OSKEL_SHA256_HEX_DIGITS AND text MATCHES "^[0-9a-f]+$")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# Reads res/firmware/SHA256SUMS into OSKEL_LISTED_<file name>_SHA256 and _SIZE.
function(oskel_read_image_list)
  if(NOT EXISTS "${OSKEL_IMAGE_LIST}")
    message(FATAL_ERROR "The list of firmware images is missing: ${OSKEL_IMAGE_LIST}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${OSKEL_IMAGE_LIST}")
  file(STRINGS "${OSKEL_IMAGE_LIST}" lines)
  set(size "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^# bytes ([0-9]+)$")
      set(size "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^([0-9a-fA-F]+) [ *](.+)$")
      string(TOLOWER "${CMAKE_MATCH_1}" digest)
      set(name "${CMAKE_MATCH_2}")
      oskel_is_sha256("${digest}" valid)
      if(NOT valid OR size STREQUAL "")
        message(FATAL_ERROR "${OSKEL_IMAGE_LIST}: the line of ${name} needs a 64-digit SHA-256 and a '# bytes N' line above it.")
      endif()
      set(OSKEL_LISTED_${name}_SHA256 "${digest}" PARENT_SCOPE)
      set(OSKEL_LISTED_${name}_SIZE "${size}" PARENT_SCOPE)
      set(size "")
    elseif(NOT line MATCHES "^#" AND NOT line STREQUAL "")
      message(FATAL_ERROR "${OSKEL_IMAGE_LIST}: malformed line '${line}'")
    endif()
  endforeach()
endfunction()

function(oskel_check_image mode resource limit)
  set(path "${OSKEL_IMAGE_MODE${mode}}")
  set(given "${OSKEL_IMAGE_MODE${mode}_SHA256}")
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "Firmware image not found: ${path}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")

  file(SIZE "${path}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "Firmware image ${path} is empty.")
  endif()
  if(size GREATER limit)
    message(FATAL_ERROR "Firmware image ${path} has ${size} bytes; its buffer holds at most ${limit}.")
  endif()
  file(SHA256 "${path}" digest)

  get_filename_component(name "${path}" NAME)
  get_filename_component(folder "${path}" DIRECTORY)
  file(REAL_PATH "${folder}" folder)
  file(REAL_PATH "${CMAKE_SOURCE_DIR}/res/firmware" listFolder)
  if(NOT given STREQUAL "")
    string(TOLOWER "${given}" expected)
    oskel_is_sha256("${expected}" valid)
    if(NOT valid)
      message(FATAL_ERROR "OSKEL_IMAGE_MODE${mode}_SHA256 must be 64 hexadecimal digits, not '${given}' (image ${path}).")
    endif()
    set(source "-DOSKEL_IMAGE_MODE${mode}_SHA256")
  elseif(folder STREQUAL listFolder AND DEFINED OSKEL_LISTED_${name}_SHA256)
    set(expected "${OSKEL_LISTED_${name}_SHA256}")
    set(source "res/firmware/SHA256SUMS")
    if(NOT size EQUAL OSKEL_LISTED_${name}_SIZE)
      message(FATAL_ERROR "Firmware image ${path} has ${size} bytes; ${source} lists ${OSKEL_LISTED_${name}_SIZE}.")
    endif()
  else()
    message(FATAL_ERROR "Firmware image ${path} (mode ${mode}) is not listed in res/firmware/SHA256SUMS: "
                        "give its SHA-256 with -DOSKEL_IMAGE_MODE${mode}_SHA256=<64 hexadecimal digits>.")
  endif()
  if(NOT digest STREQUAL expected)
    message(FATAL_ERROR "Firmware image ${path} has SHA-256 ${digest}; ${source} expects ${expected}.")
  endif()

  set_property(GLOBAL APPEND_STRING PROPERTY OSKEL_IMAGE_MANIFEST_TEXT
    "# mode ${mode}, resource ${resource}: ${size} bytes (buffer ${limit}), expected by ${source}\n${digest}  ${path}\n")
endfunction()

oskel_read_image_list()
# Buffers: modes 1 and 2 load into 32769 bytes, mode 3 into 215040 (image/firmware_buffer.h).
oskel_check_image(1 106 32769)
oskel_check_image(2 107 32769)
oskel_check_image(3 108 215040)

get_property(manifest GLOBAL PROPERTY OSKEL_IMAGE_MANIFEST_TEXT)
set_property(GLOBAL PROPERTY OSKEL_IMAGE_MANIFEST_TEXT "")
file(CONFIGURE OUTPUT "${OSKEL_IMAGE_MANIFEST}" CONTENT "${manifest}" @ONLY)

# The source that holds the three images as byte arrays (platform/linux/embedded_images.h), for the
# programs that embed them (host and Linux builds); its path goes to out_var.
function(oskel_embedded_images_source out_var)
  set(source "${CMAKE_BINARY_DIR}/embedded_images.cpp")
  add_custom_command(
    OUTPUT "${source}"
    COMMAND ${CMAKE_COMMAND} -DOUT=${source} -DMODE1=${OSKEL_IMAGE_MODE1}
            -DMODE2=${OSKEL_IMAGE_MODE2} -DMODE3=${OSKEL_IMAGE_MODE3}
            -P ${CMAKE_SOURCE_DIR}/cmake/embed_images.cmake
    DEPENDS ${OSKEL_IMAGE_MODE1} ${OSKEL_IMAGE_MODE2} ${OSKEL_IMAGE_MODE3}
            ${CMAKE_SOURCE_DIR}/cmake/embed_images.cmake
    COMMENT "Embedding firmware images")
  set(${out_var} "${source}" PARENT_SCOPE)
endfunction()
