# End-to-end tests of the Windows programs under Wine (64-bit build). Each scenario is its own
# test, so that each can be seen passing or failing on its own.
find_program(OSKEL_WINE NAMES wine)
find_program(OSKEL_XVFB_RUN NAMES xvfb-run)

add_executable(oskel_wine_driver ${CMAKE_SOURCE_DIR}/tests/wine/driver_win32.cpp)
target_include_directories(oskel_wine_driver PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(oskel_wine_driver PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)
target_link_libraries(oskel_wine_driver PRIVATE user32 gdi32 kernel32)

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

# The USB topology walk through a kernel driver of its own (tests/wine/usb/).
include(${CMAKE_SOURCE_DIR}/tests/wine/usb/usb_rig.cmake)
