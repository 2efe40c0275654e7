# The fault cases drive real programs on the one display, prefix and test
# drive, and some register services: one at a time, each bounded.
target_sources(${area}_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/e2e/e2e_support.cpp)
target_link_libraries(${area}_tests PRIVATE wizard_driver_lib)
add_dependencies(${area}_tests wizard-driver fault-worker sample-server sample-client
    mysqld-standin child-probe)
set_tests_properties(${${area}_test_list} PROPERTIES RUN_SERIAL TRUE TIMEOUT 240)

# The small-drive simulation is a native library preloaded into a Wine
# process; built with the host's C compiler where there is one.
find_program(FAULT_HOST_CC NAMES gcc cc clang NO_CMAKE_FIND_ROOT_PATH)
if(FAULT_HOST_CC)
    set(shim ${CMAKE_BINARY_DIR}/bin/disk_full_shim.so)
    add_custom_command(OUTPUT ${shim}
        COMMAND ${FAULT_HOST_CC} -shared -fPIC -O2 -o ${shim}
            ${CMAKE_CURRENT_LIST_DIR}/disk_full_shim.c -ldl
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/disk_full_shim.c
        COMMENT "Building the small-drive simulation (host library)")
    add_custom_target(disk-full-shim DEPENDS ${shim})
    add_dependencies(${area}_tests disk-full-shim)
    set_tests_properties(InstallFaultTest.FullDriveStopsWithAMessageAndTearsNothing
        WorkFileFaultTest.WorkFileThatCannotBeWrittenEndsWithItsText PROPERTIES
        ENVIRONMENT "LD_PRELOAD=${shim};FAULT_FULL_CONTROL=${CMAKE_BINARY_DIR}/testrun/disk_full.control")
endif()
