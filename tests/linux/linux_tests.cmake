# The updater's controllers behind the Linux kernel's own HID stack (tests/linux/, test rig
# only, never shipped): a small virtual machine boots Debian's packaged kernel with an initramfs
# made at test time, the controllers are uhid devices that run the device
# models, and the program under test, build/linux/oskel-update of the "linux" preset, runs in it
# as an unprivileged user. One ctest test per scenario (label linux-vm, run by the "linux-vm"
# test preset); a scenario whose program does not exist yet is skipped with the reason.
if(OSKEL_SANITIZE)
  return()  # the guest's programs are static, which the sanitizers' runtimes do not allow
endif()

set(linux_rig "${CMAKE_SOURCE_DIR}/tests/linux")
file(GLOB OSKEL_RIG_SHARED_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/rig/*.cpp)

# The guest's controller programs (a virtual USB device through USB/IP, and a uhid device), the
# bare loop and the recorder of usbmon, static so that they need nothing there.
set(linux_controller_program ${linux_rig}/device/controller_program.cpp ${OSKEL_RIG_SHARED_SOURCES})
add_executable(oskel-usbip-rig ${linux_rig}/usb/main.cpp ${linux_rig}/usb/usb_controller.cpp
               ${linux_rig}/usb/usbip_session.cpp ${linux_rig}/usb/usbip_wire.cpp ${linux_rig}/usb/vhci_port.cpp
               ${linux_rig}/usb/frame_pace.cpp ${linux_controller_program})
add_executable(oskel-uhid-rig ${linux_rig}/device/uhid_main.cpp ${linux_rig}/device/uhid_controller.cpp
               ${linux_controller_program})
add_executable(oskel-hidraw-loop ${linux_rig}/loop/main.cpp ${linux_rig}/loop/download_steps.cpp
               ${linux_rig}/loop/usbfs_reports.cpp)
add_executable(oskel-usbmon-record ${linux_rig}/usbmon/usbmon_record.cpp)
foreach(controller oskel-usbip-rig oskel-uhid-rig)
  target_link_libraries(${controller} PRIVATE oskel_hid_bus Threads::Threads)
endforeach()
target_link_libraries(oskel-hidraw-loop PRIVATE oskel_host)
target_link_libraries(oskel-usbmon-record PRIVATE oskel_capture)
# The channel that carries the machine's results to the host.
add_executable(oskel-rig-debugcon ${linux_rig}/results/debugcon_write.cpp)
foreach(program oskel-usbip-rig oskel-uhid-rig oskel-hidraw-loop oskel-usbmon-record oskel-rig-debugcon)
  target_link_options(${program} PRIVATE -static)
  set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/linux-rig")
endforeach()
# On the host: the program's own capture of a download against usbmon's record of it.
add_executable(oskel-capture-compare ${linux_rig}/usbmon/capture_compare.cpp)
target_link_libraries(oskel-capture-compare PRIVATE oskel_capture)
# Its verdict on the unplug's last report, on captures that oskel-sim makes (no machine needed).
add_test(NAME linux.capture-compare COMMAND bash ${linux_rig}/usbmon/capture_compare_test.sh
         $<TARGET_FILE:oskel-capture-compare> $<TARGET_FILE:oskel-sim>)

# The program's own scenarios (tests/oskel_update/): a stand-in for systemd-logind on the test
# machine's bus, which records the inhibitors the program takes. It needs libsystemd's sd-bus;
# without it those scenarios say that they cannot check the inhibitor.
find_package(PkgConfig)
if(PkgConfig_FOUND)
  pkg_check_modules(OSKEL_RIG_SYSTEMD IMPORTED_TARGET libsystemd)
endif()
# With elogind in the machine (tools/setup.sh takes its files from Debian's package), the stand-ins
# for polkit, which answers elogind by the defaults of logind's own policy, and for the desktop
# portal on the user's session bus.
if(OSKEL_RIG_SYSTEMD_FOUND)
  foreach(stand_in logind polkit portal)
    add_executable(oskel-fake-${stand_in} ${CMAKE_SOURCE_DIR}/tests/oskel_update/fake_${stand_in}.cpp
                   ${CMAKE_SOURCE_DIR}/tests/oskel_update/bus_serve.cpp)
    target_link_libraries(oskel-fake-${stand_in} PRIVATE PkgConfig::OSKEL_RIG_SYSTEMD)
    set_target_properties(oskel-fake-${stand_in} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/linux-rig")
  endforeach()
endif()

set(OSKEL_LINUX_UPDATER "${CMAKE_SOURCE_DIR}/build/linux/oskel-update" CACHE FILEPATH
    "The Linux program under test (the linux preset's build/linux/oskel-update)")

set(OSKEL_LINUX_RIG_WORK "${CMAKE_BINARY_DIR}/linux-rig")
# fwupd's scenarios run fwupdtool with the project's plugin (tests/fwupd/fwupd_tests.cmake).
set(fwupdtool_under_test -)
if(OSKEL_FWUPDTOOL)
  set(fwupdtool_under_test ${OSKEL_FWUPDTOOL})
endif()
set(OSKEL_LINUX_RIG_RUN bash ${linux_rig}/vm/run_scenario.sh
    --rig-bin $<TARGET_FILE_DIR:oskel-usbip-rig> --updater ${OSKEL_LINUX_UPDATER} --sim $<TARGET_FILE:oskel-sim>
    --compare $<TARGET_FILE:oskel-capture-compare>
    --work ${OSKEL_LINUX_RIG_WORK} --fwupdtool ${fwupdtool_under_test}
    --image1 ${OSKEL_IMAGE_MODE1} --image2 ${OSKEL_IMAGE_MODE2} --image3 ${OSKEL_IMAGE_MODE3})

# The initramfs is made once per run, with the updater when it exists, and shared by every boot.
add_test(NAME linux.initramfs COMMAND ${OSKEL_LINUX_RIG_RUN} initramfs)
set_tests_properties(linux.initramfs PROPERTIES FIXTURES_SETUP oskel_linux_initramfs LABELS linux-vm
  TIMEOUT 120 SKIP_RETURN_CODE 77)

# rig: the rig's own checks, which need no updater. The others run the updater.
set(OSKEL_LINUX_SCENARIOS rig start-protocol2 start-protocol3 arrival-protocol1 arrival-protocol2
    arrival-protocol3 uhid-start-protocol2 no-controller normal-controller refused-report stalled-report
    unplug-mid-download unplug-in-flight two-programs
    # The program's own: Start past a normal-mode controller, --list and --device; the signals
    # and the inhibitor during a download; the access advice and the package's rules without a
    # replug; usbhid's interface given back after mode 1's failures, unplug and a signal; and
    # after a SIGKILL mid-download (at the next start), and from a controller that answers nothing.
    normal-then-update held-signals access protocol1-give-back protocol1-interrupted
    # The program as its users install it: the tarball's install.sh on a read-only /usr without
    # libsystemd, and the rpm's and the Arch package's payloads with their scripts.
    tarball-install packages-install
    # What is held against the user's own desktop: elogind's locks, the portal's inhibition, the
    # seat user's suspend mid-download (mode 3, and mode 1 with its interface given back); and what
    # the program says where a lock cannot be had.
    sleep-mid-download sleep-mode1 held-refused)
foreach(scenario ${OSKEL_LINUX_SCENARIOS})
  add_test(NAME linux.${scenario} COMMAND ${OSKEL_LINUX_RIG_RUN} ${scenario})
  set_tests_properties(linux.${scenario} PROPERTIES FIXTURES_REQUIRED oskel_linux_initramfs
    LABELS linux-vm TIMEOUT 180 SKIP_RETURN_CODE 77)
endforeach()

# fwupd's scenarios (vm/fwupd_scenarios.sh): fwupdtool of OSKEL_FWUPDTOOL lists each update-mode
# controller, writes each mode's image with install-blob and installs the release's cabinet of it,
# and ends with an error when a controller is unplugged or holds a report; they boot an initramfs
# of their own, and are skipped when fwupdtool is not built.
add_test(NAME linux.fwupd-initramfs COMMAND ${OSKEL_LINUX_RIG_RUN} fwupd-initramfs)
set_tests_properties(linux.fwupd-initramfs PROPERTIES FIXTURES_SETUP oskel_fwupd_initramfs LABELS linux-vm
  TIMEOUT 180 SKIP_RETURN_CODE 77)
foreach(scenario fwupd-protocol1 fwupd-protocol2 fwupd-protocol3 fwupd-unplug-mid-download fwupd-stalled-report)
  add_test(NAME linux.${scenario} COMMAND ${OSKEL_LINUX_RIG_RUN} ${scenario})
  set_tests_properties(linux.${scenario} PROPERTIES FIXTURES_REQUIRED oskel_fwupd_initramfs
    LABELS linux-vm TIMEOUT 320 SKIP_RETURN_CODE 77)
endforeach()
