# Linux build (preset "linux"): the terminal program oskel-update over hidraw and libudev, a USB
# controller's HID class requests through libusb, and libsystemd's sd-bus (the logind inhibitor)
# and sd-login (who may open a node), those two loaded when the system has them.
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
# libsystemd (or libelogind) and libusb are loaded at run time where the system has them
# (platform/linux/loaded_library.h): of them the backend takes only the headers. The glibc floor
# (glibc_floor.cpp) goes into the program itself, ahead of the runtime libraries whose calls it takes.
oskel_folder_sources(OSKEL_PLATFORM_LINUX_SOURCES platform/linux)
set(OSKEL_GLIBC_FLOOR ${CMAKE_SOURCE_DIR}/platform/linux/glibc_floor.cpp)
list(REMOVE_ITEM OSKEL_PLATFORM_LINUX_SOURCES ${OSKEL_GLIBC_FLOOR})
add_library(oskel_platform_linux STATIC ${OSKEL_PLATFORM_LINUX_SOURCES} ${OSKEL_EMBEDDED})
target_include_directories(oskel_platform_linux PUBLIC ${CMAKE_SOURCE_DIR})
target_include_directories(oskel_platform_linux PRIVATE ${SYSTEMD_INCLUDE_DIRS} ${USB_INCLUDE_DIRS})
target_link_libraries(oskel_platform_linux PUBLIC oskel_capture PkgConfig::UDEV Threads::Threads)

# The terminal front end (app/linux/) on the core. It is also the seam's user interface and
# debugger output channel in this program: the terminal draws what the dialog would show.
oskel_folder_sources(OSKEL_LINUX_APP_SOURCES app/linux)
add_executable(oskel-update ${OSKEL_LINUX_APP_SOURCES} ${OSKEL_GLIBC_FLOOR})
target_include_directories(oskel-update PRIVATE ${CMAKE_BINARY_DIR}/generated)  # oskel_version.h
target_link_libraries(oskel-update PRIVATE
  oskel_core oskel_platform_linux Threads::Threads)
# One program for every Linux system (tools/check-linux-program.sh, test linux.portable-program):
# the C++ runtime and GCC's support library are linked in, so that it needs no libstdc++ of a
# given age, and their two calls of functions newer than glibc 2.34 go to glibc_floor.cpp.
set(OSKEL_PORTABLE_LINK_OPTIONS -static-libstdc++ -static-libgcc -Wl,--as-needed
    -Wl,--wrap=_dl_find_object -Wl,--wrap=arc4random)
target_link_options(oskel-update PRIVATE ${OSKEL_PORTABLE_LINK_OPTIONS})
install(TARGETS oskel-update RUNTIME DESTINATION bin)
install(FILES res/linux/70-oskel-update.rules DESTINATION lib/udev/rules.d)

# The program's command line, and Start without a controller, on the build machine.
enable_testing()
add_test(NAME linux.command-line
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/oskel_update/command_line.sh $<TARGET_FILE:oskel-update> ${CMAKE_SOURCE_DIR}
                 ${OSKEL_IMAGE_MODE1} ${OSKEL_IMAGE_MODE2} ${OSKEL_IMAGE_MODE3})
# The tarball's install.sh into trees: where it puts what, a second run, --uninstall, its refusals.
add_test(NAME linux.install-tree
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/oskel_update/install_tree.sh $<TARGET_FILE:oskel-update> ${CMAKE_SOURCE_DIR})
# What the program needs of the system it runs on, and the glibc floor's own find of an object's
# unwinding table against glibc's, linked as the program is.
add_test(NAME linux.portable-program
         COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-linux-program.sh $<TARGET_FILE:oskel-update>)
add_executable(oskel-glibc-floor-test tests/oskel_update/glibc_floor_test.cpp ${OSKEL_GLIBC_FLOOR})
target_include_directories(oskel-glibc-floor-test PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(oskel-glibc-floor-test PRIVATE ${OSKEL_PORTABLE_LINK_OPTIONS})
add_test(NAME linux.glibc-floor COMMAND oskel-glibc-floor-test)
