# End-to-end tests of the Windows programs under Wine (64-bit build). Each scenario is its own
# test, so that each can be seen passing or failing on its own.
find_program(OSKEL_WINE NAMES wine)
find_program(OSKEL_XVFB_RUN NAMES xvfb-run)

add_executable(oskel_wine_driver ${CMAKE_SOURCE_DIR}/tests/wine/driver_win32.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/driver_common_win32.cpp ${CMAKE_SOURCE_DIR}/tests/wine/debug_monitor_win32.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/rig_scenarios_win32.cpp)
target_include_directories(oskel_wine_driver PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(oskel_wine_driver PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)
target_link_libraries(oskel_wine_driver PRIVATE user32 gdi32 kernel32)

include(${CMAKE_SOURCE_DIR}/tests/wine/hid/hid_rig.cmake)

if(NOT OSKEL_WINE OR NOT OSKEL_XVFB_RUN)
  message(WARNING "wine or xvfb-run not found: the Wine tests are not registered")
  return()
endif()

set(OSKEL_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(OSKEL_WINE_RUN bash ${CMAKE_SOURCE_DIR}/tools/wine-env.sh ${OSKEL_WINE_PREFIX})

add_test(NAME wine.prefix COMMAND ${OSKEL_WINE_RUN} init)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP oskel_wineprefix TIMEOUT 300 RESOURCE_LOCK oskel_wine)

set(OSKEL_WINE_SCENARIOS resources no-device normal-controller start-protocol2
    arrival-protocol3 arrival-protocol2 arrival-protocol1)
foreach(scenario ${OSKEL_WINE_SCENARIOS})
  set(work "${CMAKE_BINARY_DIR}/wine-work/${scenario}")
  file(MAKE_DIRECTORY "${work}")
  add_test(NAME wine.${scenario}
           COMMAND ${OSKEL_WINE_RUN} run $<TARGET_FILE:oskel_wine_driver> ${scenario}
                   --updater $<TARGET_FILE:OskelUpdater> --sim $<TARGET_FILE:OskelUpdaterSim>
                   --image1 ${OSKEL_IMAGE_MODE1} --image2 ${OSKEL_IMAGE_MODE2}
                   --image3 ${OSKEL_IMAGE_MODE3} --work ${work})
  set_tests_properties(wine.${scenario} PROPERTIES
    FIXTURES_REQUIRED oskel_wineprefix RESOURCE_LOCK oskel_wine TIMEOUT 240)
endforeach()

# The unmodified updater against virtual controllers behind Wine's own HID stack (the rig of
# tests/wine/hid/), 64-bit and 32-bit. The scenarios share one prefix, a copy of the one above
# made for this run and removed after it; each scenario plugs in the controllers it needs and
# unplugs them at its end. The 32-bit runs use the win32 preset's program and are skipped, with
# the reason, where 32-bit programs cannot run.
set(OSKEL_WIN32_UPDATER "${CMAKE_SOURCE_DIR}/build/win32/OskelUpdater.exe" CACHE FILEPATH
    "The 32-bit OskelUpdater.exe of the win32 preset, for the 32-bit rig scenarios")
set(OSKEL_RIG_PREFIX "${CMAKE_BINARY_DIR}/wineprefix-rig")
set(OSKEL_RIG_RUN bash ${CMAKE_SOURCE_DIR}/tools/wine-env.sh ${OSKEL_RIG_PREFIX})

add_test(NAME wine.rig.prefix COMMAND ${OSKEL_RIG_RUN} clone ${OSKEL_WINE_PREFIX})
set_tests_properties(wine.rig.prefix PROPERTIES FIXTURES_SETUP oskel_rig_prefix
  FIXTURES_REQUIRED oskel_wineprefix RESOURCE_LOCK oskel_wine TIMEOUT 120)
add_test(NAME wine.rig.cleanup COMMAND ${OSKEL_RIG_RUN} remove)
set_tests_properties(wine.rig.cleanup PROPERTIES FIXTURES_CLEANUP oskel_rig_prefix
  RESOURCE_LOCK oskel_wine TIMEOUT 60)

set(OSKEL_RIG_SCENARIOS no-controller normal-controller start-protocol2 start-protocol3
    arrival-protocol1 arrival-protocol2 arrival-protocol3 refused-report stalled-report
    unplug-mid-download close-inside-box two-programs squatted-claim)
foreach(bits 64 32)
  if(bits EQUAL 64)
    set(updater $<TARGET_FILE:OskelUpdater>)
    set(run ${OSKEL_RIG_RUN} run)
  else()
    set(updater ${OSKEL_WIN32_UPDATER})
    set(run ${OSKEL_RIG_RUN} run-i386 ${OSKEL_WIN32_UPDATER})
  endif()
  foreach(scenario ${OSKEL_RIG_SCENARIOS})
    set(work "${CMAKE_BINARY_DIR}/wine-work/rig${bits}-${scenario}")
    file(MAKE_DIRECTORY "${work}")
    add_test(NAME wine.rig${bits}.${scenario}
             COMMAND ${run} $<TARGET_FILE:oskel_wine_driver> rig-${scenario} --updater ${updater}
                     --rig ${OSKEL_HID_RIG_DIR} --image1 ${OSKEL_IMAGE_MODE1} --image2 ${OSKEL_IMAGE_MODE2}
                     --image3 ${OSKEL_IMAGE_MODE3} --work ${work})
    set_tests_properties(wine.rig${bits}.${scenario} PROPERTIES
      FIXTURES_REQUIRED oskel_rig_prefix RESOURCE_LOCK oskel_wine TIMEOUT 240 SKIP_RETURN_CODE 77)
  endforeach()
endforeach()

# The USB topology walk through a kernel driver of its own (tests/wine/usb/).
include(${CMAKE_SOURCE_DIR}/tests/wine/usb/usb_rig.cmake)
