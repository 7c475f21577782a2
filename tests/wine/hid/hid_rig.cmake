# The virtual controller rig (64-bit build only, never part of what ships): a HID minidriver,
# the model DLL that runs the device models (models/) behind it, and the installer that
# plugs controllers in and out. Everything lands in one folder beside its INF.
set(OSKEL_HID_RIG_DIR "${CMAKE_BINARY_DIR}/hid-rig")
set(rig "${CMAKE_SOURCE_DIR}/tests/wine/hid")
# What this rig shares with the one behind the Linux kernel's HID stack (tests/linux/).
file(GLOB OSKEL_RIG_SHARED_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/rig/*.cpp)
configure_file("${rig}/oskel_hid_rig.inf" "${OSKEL_HID_RIG_DIR}/oskel_hid_rig.inf" COPYONLY)

# The model DLL: C++, the models and the simulated bus that hands them their reports, linked in
# statically.
add_library(oskel_hid_model SHARED
  ${rig}/model_api.cpp ${rig}/controller.cpp ${rig}/controller_record.cpp
  ${rig}/node_settings.cpp ${OSKEL_RIG_SHARED_SOURCES})
target_compile_definitions(oskel_hid_model PRIVATE OSKEL_RIG_MODEL_BUILD)
target_include_directories(oskel_hid_model PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(oskel_hid_model PRIVATE oskel_hid_bus advapi32 kernel32)
target_link_options(oskel_hid_model PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(oskel_hid_model PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY "${OSKEL_HID_RIG_DIR}"
                      ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/hid-rig-lib")

# The minidriver: plain C, a native image that imports ntoskrnl.exe, hidclass.sys and the DLL.
add_library(oskel_hid_rig_sys SHARED ${rig}/minidriver.c)
target_compile_options(oskel_hid_rig_sys PRIVATE -ffreestanding -fno-stack-protector -mno-stack-arg-probe)
target_link_options(oskel_hid_rig_sys PRIVATE -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry)
target_link_libraries(oskel_hid_rig_sys PRIVATE oskel_hid_model ntoskrnl hidclass gcc)
set_target_properties(oskel_hid_rig_sys PROPERTIES PREFIX "" OUTPUT_NAME oskel_hid_rig SUFFIX ".sys"
                      RUNTIME_OUTPUT_DIRECTORY "${OSKEL_HID_RIG_DIR}"
                      ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/hid-rig-lib")

# The installer.
add_executable(oskel_hid_rig ${rig}/installer.cpp ${rig}/node_settings.cpp ${OSKEL_RIG_SHARED_SOURCES}
  ${CMAKE_SOURCE_DIR}/platform/win32/system.cpp ${CMAKE_SOURCE_DIR}/platform/win32/system_error.cpp)
target_include_directories(oskel_hid_rig PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(oskel_hid_rig PRIVATE oskel_models newdev setupapi advapi32 kernel32)
target_link_options(oskel_hid_rig PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)
set_target_properties(oskel_hid_rig PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${OSKEL_HID_RIG_DIR}")
