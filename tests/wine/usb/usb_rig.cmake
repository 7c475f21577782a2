# The USB rig: a kernel driver that plays the host controllers and hubs of a USB tree file, so
# that the topology walk runs through Wine's real I/O path (CreateFile, DeviceIoControl, the
# driver's dispatch routines). Test artefacts of the 64-bit build only: nothing of them links
# into the shipped program, and the program never installs them.
set(OSKEL_USB_RIG_DIR ${CMAKE_SOURCE_DIR}/tests/wine/usb)

# The tree behind the driver: the simulated tree's own code (oskel_sim_world) in a DLL that the driver
# imports. Wine loads it from the driver's folder.
add_library(oskel_usbrig_tree SHARED ${OSKEL_USB_RIG_DIR}/rig_tree.cpp ${OSKEL_USB_RIG_DIR}/request_log.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/system_error.cpp)
set_target_properties(oskel_usbrig_tree PROPERTIES PREFIX "")
target_include_directories(oskel_usbrig_tree PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(oskel_usbrig_tree PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(oskel_usbrig_tree PRIVATE oskel_sim_world advapi32 kernel32)

# The driver: plain C, freestanding, importing ntoskrnl.exe and the tree DLL only.
add_library(oskel_usbrig SHARED ${OSKEL_USB_RIG_DIR}/rig_driver.c)
set_target_properties(oskel_usbrig PROPERTIES PREFIX "" SUFFIX ".sys")
target_include_directories(oskel_usbrig PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(oskel_usbrig PRIVATE -ffreestanding -fno-stack-protector -mno-stack-arg-probe)
target_link_options(oskel_usbrig PRIVATE -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry)
target_link_libraries(oskel_usbrig PRIVATE oskel_usbrig_tree ntoskrnl gcc)

# Installs the driver as a kernel service for the length of one program's run.
add_executable(oskel_usbrig_runner ${OSKEL_USB_RIG_DIR}/rig_runner_win32.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/system_error.cpp)
target_include_directories(oskel_usbrig_runner PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(oskel_usbrig_runner PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)
target_link_libraries(oskel_usbrig_runner PRIVATE advapi32 kernel32)

# The walk as Start runs it, over the shipped Windows backend, unmodified.
add_executable(oskel_usb_walk ${OSKEL_USB_RIG_DIR}/usb_walk_main.cpp ${OSKEL_USB_RIG_DIR}/walk_world_system.cpp
  ${CMAKE_SOURCE_DIR}/device/usb_topology.cpp ${CMAKE_SOURCE_DIR}/device/usb_descriptors.cpp
  ${CMAKE_SOURCE_DIR}/state/download_state.cpp ${CMAKE_SOURCE_DIR}/platform/win32/usb.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/overlapped.cpp ${CMAKE_SOURCE_DIR}/platform/win32/system_error.cpp)
target_include_directories(oskel_usb_walk PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(oskel_usb_walk PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)
target_link_libraries(oskel_usb_walk PRIVATE kernel32)

# The same walk over the simulated tree: the reference that the driver's log is compared with.
add_executable(oskel_usb_walk_sim ${OSKEL_USB_RIG_DIR}/usb_walk_main.cpp ${OSKEL_USB_RIG_DIR}/walk_world_sim.cpp
  ${OSKEL_USB_RIG_DIR}/request_log.cpp
  ${CMAKE_SOURCE_DIR}/device/usb_topology.cpp ${CMAKE_SOURCE_DIR}/device/usb_descriptors.cpp
  ${CMAKE_SOURCE_DIR}/state/download_state.cpp ${CMAKE_SOURCE_DIR}/sim/backend/usb_sim.cpp)
target_include_directories(oskel_usb_walk_sim PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(oskel_usb_walk_sim PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)
target_link_libraries(oskel_usb_walk_sim PRIVATE oskel_sim_world kernel32)

# The walk under the rig, compared with the walk over the simulated tree: first the walk alone,
# whose match flag the program prints; then the shipped program, 64-bit and 32-bit, whose Start
# walks the tree because a controller in its normal mode (0x045E:0x028E, plugged in by the HID
# rig in the rig's prefix) is present.
set(OSKEL_USB_RIG_RUN bash ${OSKEL_USB_RIG_DIR}/usb_walk_test.sh --wine-env ${CMAKE_SOURCE_DIR}/tools/wine-env.sh
    --reference $<TARGET_FILE:oskel_usb_walk_sim> --runner $<TARGET_FILE:oskel_usbrig_runner>
    --driver $<TARGET_FILE:oskel_usbrig>)
set(OSKEL_USB_WALK_TEST ${OSKEL_USB_RIG_RUN} --tree ${OSKEL_USB_RIG_DIR}/rig-tree.txt
    --identification "RQ4180 V1.2" --match 1)
# Nodes that never answer: a hub and a host controller that ignores cancellation, between nodes
# that answer, and the matching controller last.
set(OSKEL_USB_NEVER_ANSWERS_TEST ${OSKEL_USB_RIG_RUN} --tree ${OSKEL_USB_RIG_DIR}/rig-tree-never-answers.txt
    --identification "RQ4180 V1.2" --match 1)
foreach(bits 64 32)
  if(bits EQUAL 64)
    set(updater $<TARGET_FILE:OskelUpdater>)
    set(i386)
  else()
    set(updater ${OSKEL_WIN32_UPDATER})
    set(i386 --i386 ${OSKEL_WIN32_UPDATER})
  endif()
  foreach(variant usb-walk usb-walk-never-answers)
    if(variant STREQUAL "usb-walk")
      set(test ${OSKEL_USB_WALK_TEST})
    else()
      set(test ${OSKEL_USB_NEVER_ANSWERS_TEST})
    endif()
    set(work "${CMAKE_BINARY_DIR}/wine-work/rig${bits}-${variant}")
    add_test(NAME wine.rig${bits}.${variant}
             COMMAND ${test} --prefix ${OSKEL_RIG_PREFIX} --work ${work} --no-match-line ${i386}
                     -- $<TARGET_FILE:oskel_wine_driver> rig-normal-controller --updater ${updater}
                     --rig ${OSKEL_HID_RIG_DIR} --image1 ${OSKEL_IMAGE_MODE1} --image2 ${OSKEL_IMAGE_MODE2}
                     --image3 ${OSKEL_IMAGE_MODE3} --work ${work})
    set_tests_properties(wine.rig${bits}.${variant} PROPERTIES
      FIXTURES_REQUIRED oskel_rig_prefix RESOURCE_LOCK oskel_wine TIMEOUT 240 SKIP_RETURN_CODE 77)
  endforeach()
endforeach()

add_test(NAME wine.usb-walk
         COMMAND ${OSKEL_USB_WALK_TEST} --prefix ${OSKEL_WINE_PREFIX} --work ${CMAKE_BINARY_DIR}/wine-work/usb-walk
                 -- $<TARGET_FILE:oskel_usb_walk>)
set_tests_properties(wine.usb-walk PROPERTIES
  FIXTURES_REQUIRED oskel_wineprefix RESOURCE_LOCK oskel_wine TIMEOUT 240)

# The walk's time limits through the real Windows backend: the tree with nodes that never
# answer, and one whose host controllers all never answer, which the walk leaves when its budget
# has run out.
add_test(NAME wine.usb-walk.never-answers
         COMMAND ${OSKEL_USB_NEVER_ANSWERS_TEST} --within-longest --prefix ${OSKEL_WINE_PREFIX}
                 --work ${CMAKE_BINARY_DIR}/wine-work/usb-walk-never-answers -- $<TARGET_FILE:oskel_usb_walk>)
add_test(NAME wine.usb-walk.budget
         COMMAND ${OSKEL_USB_RIG_RUN} --tree ${OSKEL_USB_RIG_DIR}/rig-tree-budget.txt --match 0 --within-longest
                 --prefix ${OSKEL_WINE_PREFIX} --work ${CMAKE_BINARY_DIR}/wine-work/usb-walk-budget
                 -- $<TARGET_FILE:oskel_usb_walk>)
set_tests_properties(wine.usb-walk.never-answers wine.usb-walk.budget PROPERTIES
  FIXTURES_REQUIRED oskel_wineprefix RESOURCE_LOCK oskel_wine TIMEOUT 240)
