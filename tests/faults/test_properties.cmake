# The fault cases drive real programs on the one display, prefix and test
# drive, and some register services: one at a time, each bounded.
target_sources(${area}_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/e2e/e2e_support.cpp)
target_link_libraries(${area}_tests PRIVATE wizard_driver_lib)
add_dependencies(${area}_tests wizard-driver fault-worker sample-server sample-client
    mysqld-standin child-probe)
set_tests_properties(${${area}_test_list} PROPERTIES RUN_SERIAL TRUE TIMEOUT 240)
# Fifty whole wizard runs, each a Wine process start, a package check and a
# stop: about 1 s a run on a quiet machine, up to 5 s on a loaded one.
set_tests_properties(CancelTest.CancelAtRandomMomentsReachesFinishWithinASecond
    PROPERTIES TIMEOUT 480)

# The small-drive simulation is a native library preloaded into the Wine
# processes, so it must be built for the loader that runs the tests: 32-bit
# for the i686 build (Debian's 32-bit C development files), 64-bit for the
# twin. The 32-bit one is built in either case, and a test checks both.
find_program(FAULT_HOST_CC NAMES gcc cc clang NO_CMAKE_FIND_ROOT_PATH)
if(FAULT_HOST_CC)
    set(shim_source ${CMAKE_CURRENT_LIST_DIR}/disk_full_shim.c)
    set(shim32 ${CMAKE_BINARY_DIR}/bin/disk_full_shim32.so)
    set(shim64 ${CMAKE_BINARY_DIR}/bin/disk_full_shim64.so)
    add_custom_command(OUTPUT ${shim32}
        COMMAND ${FAULT_HOST_CC} -m32 -shared -fPIC -O2 -o ${shim32} ${shim_source} -ldl
        DEPENDS ${shim_source}
        COMMENT "Building the small-drive simulation (32-bit host library)")
    add_custom_command(OUTPUT ${shim64}
        COMMAND ${FAULT_HOST_CC} -m64 -shared -fPIC -O2 -o ${shim64} ${shim_source} -ldl
        DEPENDS ${shim_source}
        COMMENT "Building the small-drive simulation (64-bit host library)")
    add_custom_target(disk-full-shim DEPENDS ${shim32} ${shim64})
    add_dependencies(${area}_tests disk-full-shim)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
        set(shim ${shim32})
        set(shim_kind 1:3)
    else()
        set(shim ${shim64})
        set(shim_kind 2:62)
    endif()
    set_tests_properties(InstallFaultTest.FullDriveStopsWithAMessageAndTearsNothing
        WorkFileFaultTest.WorkFileThatCannotBeWrittenEndsWithItsText PROPERTIES
        ENVIRONMENT "SETUP_WINE_PRELOAD=${shim};FAULT_FULL_CONTROL=${CMAKE_BINARY_DIR}/testrun/disk_full.control")
    add_test(NAME DiskFullShim.BuiltForTheWineLoaderThatRunsTheTests
        COMMAND ${CMAKE_COMMAND} "-DSHIMS=${shim32}:1:3|${shim}:${shim_kind}"
            -P ${CMAKE_CURRENT_LIST_DIR}/check_elf_class.cmake)
endif()
