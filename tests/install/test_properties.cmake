# The service tests register fixed service names in the prefix's one service
# manager: they must not overlap with each other or other tests.
set_tests_properties(${install_test_list} PROPERTIES RUN_SERIAL TRUE)
add_dependencies(${area}_tests child-probe planted-net)
