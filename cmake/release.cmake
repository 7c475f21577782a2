# The release configuration (presets release-win32, release-win64 and release-linux,
# tools/release.sh): the programs stripped of debug data and symbols, built for size, and the
# same bytes from any folder at any time. (An ELF program carries no time of its own; its build
# id is a digest of its contents.)
option(OSKEL_RELEASE "Release build: stripped, size-minded, reproducible" OFF)
if(NOT OSKEL_RELEASE)
  return()
endif()

# Size: every function and object in a section of its own, so that the linker drops the unused
# ones; no debug sections and no symbol table in the program (-s).
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffunction-sections;-fdata-sections>")
add_link_options(-s -Wl,--gc-sections)

# No build path in the program: whatever the compiler would record of the source and build
# folders (__FILE__ in assertions, debug paths) is written relative to them.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=;-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

# The PE header's time stamp: ld writes SOURCE_DATE_EPOCH there when it is set, and the time of
# the link otherwise. A release stamps the time of the commit it is built from (or the
# SOURCE_DATE_EPOCH it was configured with), and no time when it has neither.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(epoch MATCHES "^[0-9]+$")
  set(OSKEL_SOURCE_DATE_EPOCH "${epoch}")
  set(CMAKE_C_LINKER_LAUNCHER "${CMAKE_COMMAND}" -E env "SOURCE_DATE_EPOCH=${epoch}")
  set(CMAKE_CXX_LINKER_LAUNCHER "${CMAKE_COMMAND}" -E env "SOURCE_DATE_EPOCH=${epoch}")
else()
  set(OSKEL_SOURCE_DATE_EPOCH "")
  if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
endif()
message(STATUS "Release build; PE time stamp: ${OSKEL_SOURCE_DATE_EPOCH}")
unset(epoch)
