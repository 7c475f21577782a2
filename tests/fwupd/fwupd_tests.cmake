# The fwupd plugin (fwupd/oskel-controller/), built in fwupd's own tree by tools/build-fwupd.sh.
# Its self-test compares the plugin's reports with golden reports that the updater's own worker
# and transfers make (oskel-fwupd-golden); fwupd.golden-reports checks that the checked-in files
# are still what they make. fwupdtool itself runs in the virtual machine's fwupd scenarios
# (tests/linux/linux_tests.cmake).
set(OSKEL_FWUPDTOOL "${CMAKE_SOURCE_DIR}/build/fwupd/build/src/fwupdtool" CACHE FILEPATH
    "fwupdtool of fwupd 2.0.20 built with the plugin (tools/build-fwupd.sh builds it and prints its path)")

add_executable(oskel-fwupd-golden ${CMAKE_SOURCE_DIR}/tests/fwupd/golden_reports.cpp)
target_link_libraries(oskel-fwupd-golden PRIVATE oskel_host)
add_test(NAME fwupd.golden-reports
         COMMAND oskel-fwupd-golden --check ${CMAKE_SOURCE_DIR}/fwupd/oskel-controller/tests)

# The self-test lies beside fwupdtool in fwupd's build folder.
add_test(NAME fwupd.self-test COMMAND bash ${CMAKE_SOURCE_DIR}/tests/fwupd/self_test.sh "${OSKEL_FWUPDTOOL}")
set_tests_properties(fwupd.self-test PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
