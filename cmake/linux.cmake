# Linux build (preset "linux"): the terminal program oskel-update over hidraw and libudev, a USB
# controller's HID class requests through libusb, and libsystemd's sd-bus (the logind inhibitor)
# and sd-login (who may open a node).
find_package(Threads REQUIRED)

# Debian's hardening for what ships (as dpkg-buildflags gives it; the compiler builds position-
# independent programs by default): stack protection, checked string and memory calls, and the
# relocations read-only once the program has started.
string(APPEND CMAKE_C_FLAGS " -fstack-protector-strong -D_FORTIFY_SOURCE=2")
string(APPEND CMAKE_CXX_FLAGS " -fstack-protector-strong -D_FORTIFY_SOURCE=2")
string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,-z,relro -Wl,-z,now")
find_package(PkgConfig REQUIRED)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
pkg_check_modules(USB REQUIRED IMPORTED_TARGET libusb-1.0)

oskel_embedded_images_source(OSKEL_EMBEDDED)

# The Linux side of the seam (platform/linux/).
oskel_folder_sources(OSKEL_PLATFORM_LINUX_SOURCES platform/linux)
add_library(oskel_platform_linux STATIC ${OSKEL_PLATFORM_LINUX_SOURCES} ${OSKEL_EMBEDDED})
target_include_directories(oskel_platform_linux PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(oskel_platform_linux PUBLIC oskel_capture PkgConfig::UDEV PkgConfig::SYSTEMD PkgConfig::USB
                      Threads::Threads)

# The terminal front end (app/linux/) on the core. It is also the seam's user interface and
# debugger output channel in this program: the terminal draws what the dialog would show.
oskel_folder_sources(OSKEL_LINUX_APP_SOURCES app/linux)
add_executable(oskel-update ${OSKEL_LINUX_APP_SOURCES})
target_include_directories(oskel-update PRIVATE ${CMAKE_BINARY_DIR}/generated)  # oskel_version.h
target_link_libraries(oskel-update PRIVATE
  oskel_core oskel_platform_linux Threads::Threads)
install(TARGETS oskel-update RUNTIME DESTINATION bin)
install(FILES res/linux/70-oskel-update.rules DESTINATION lib/udev/rules.d)

# The program's command line, and Start without a controller, on the build machine.
enable_testing()
add_test(NAME linux.command-line
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/oskel_update/command_line.sh $<TARGET_FILE:oskel-update> ${CMAKE_SOURCE_DIR})
