# The end-to-end tests drive the real program on one display, one prefix and
# one install folder: one at a time.
target_link_libraries(${area}_tests PRIVATE wizard_driver_lib)
add_dependencies(${area}_tests wizard-driver)
set_tests_properties(${${area}_test_list} PROPERTIES RUN_SERIAL TRUE TIMEOUT 240)
