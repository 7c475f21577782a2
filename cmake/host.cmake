# Host (Linux) build: simulated platform, the command-line simulator and the tests.
find_package(Threads REQUIRED)

oskel_embedded_images_source(OSKEL_EMBEDDED)

# The host side of the seam: user interface, system services and resources of the simulated
# world. The code page 936 texts become UTF-8 as in the Linux program (platform/linux/text.cpp).
add_library(oskel_host_backend STATIC sim/backend/resources_host.cpp sim/backend/system_host.cpp
            sim/backend/ui_host.cpp platform/linux/text.cpp ${OSKEL_EMBEDDED})
target_link_libraries(oskel_host_backend PUBLIC oskel_sim_backend oskel_sim_world Threads::Threads)

# Whole downloads driven through the dialog's logic, above the core (sim/scenario.cpp).
add_library(oskel_scenario STATIC sim/scenario.cpp)
target_link_libraries(oskel_scenario PUBLIC oskel_core oskel_sim_world)

# Everything a host program needs, in link order: what drives the core, the core, the backend
# and the world below it.
add_library(oskel_host INTERFACE)
target_link_libraries(oskel_host INTERFACE oskel_scenario oskel_core oskel_host_backend oskel_capture_check)

oskel_folder_sources(OSKEL_SIM_CLI_SOURCES sim/cli)
add_executable(oskel-sim ${OSKEL_SIM_CLI_SOURCES})
target_link_libraries(oskel-sim PRIVATE oskel_host)
target_include_directories(oskel-sim PRIVATE ${CMAKE_BINARY_DIR}/generated)  # oskel_version.h

enable_testing()
find_package(GTest REQUIRED)
oskel_folder_sources(OSKEL_TEST_SOURCES tests)
add_executable(oskel_tests ${OSKEL_TEST_SOURCES})
target_link_libraries(oskel_tests PRIVATE oskel_host GTest::gtest GTest::gtest_main)
target_compile_definitions(oskel_tests PRIVATE OSKEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
include(GoogleTest)
gtest_discover_tests(oskel_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# End-to-end runs of the command-line simulator (tests/cli/*.cmake style scripts).
file(GLOB OSKEL_CLI_TESTS CONFIGURE_DEPENDS tests/cli/*.sh)
foreach(script ${OSKEL_CLI_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME cli.${name} COMMAND bash ${script} $<TARGET_FILE:oskel-sim> ${CMAKE_SOURCE_DIR})
endforeach()

if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()

# The controllers behind the Linux kernel's HID stack, in a virtual machine (tests/linux/).
include(${CMAKE_SOURCE_DIR}/tests/linux/linux_tests.cmake)
