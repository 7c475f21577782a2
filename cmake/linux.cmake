# Linux build (preset "linux"): the terminal program oskel-update over hidraw, libudev and, for
# the sleep and shutdown inhibitor, libsystemd's sd-bus.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

set(OSKEL_EMBEDDED "${CMAKE_BINARY_DIR}/embedded_images.cpp")
add_custom_command(
  OUTPUT "${OSKEL_EMBEDDED}"
  COMMAND ${CMAKE_COMMAND} -DOUT=${OSKEL_EMBEDDED} -DMODE1=${OSKEL_IMAGE_MODE1}
          -DMODE2=${OSKEL_IMAGE_MODE2} -DMODE3=${OSKEL_IMAGE_MODE3}
          -P ${CMAKE_SOURCE_DIR}/cmake/embed_images.cmake
  DEPENDS ${OSKEL_IMAGE_MODE1} ${OSKEL_IMAGE_MODE2} ${OSKEL_IMAGE_MODE3}
          ${CMAKE_SOURCE_DIR}/cmake/embed_images.cmake
  COMMENT "Embedding firmware images")

# The Linux side of the seam (platform/*_linux.cpp).
file(GLOB OSKEL_PLATFORM_LINUX_SOURCES CONFIGURE_DEPENDS platform/*_linux.cpp)
add_library(oskel_platform_linux STATIC ${OSKEL_PLATFORM_LINUX_SOURCES} ${OSKEL_EMBEDDED})
target_include_directories(oskel_platform_linux PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(oskel_platform_linux PUBLIC oskel_platform_portable PkgConfig::UDEV PkgConfig::SYSTEMD
                      Threads::Threads)

# The terminal front end (app/*_linux.cpp) on the core.
file(GLOB OSKEL_LINUX_APP_SOURCES CONFIGURE_DEPENDS app/*_linux.cpp)
add_executable(oskel-update ${OSKEL_LINUX_APP_SOURCES})
target_include_directories(oskel-update PRIVATE ${CMAKE_BINARY_DIR}/generated)  # oskel_version.h
target_link_libraries(oskel-update PRIVATE
  oskel_core oskel_platform_linux Threads::Threads)
install(TARGETS oskel-update RUNTIME DESTINATION bin)
install(FILES res/linux/70-oskel-update.rules DESTINATION lib/udev/rules.d)
