# The tests call the builder's library and run setup-pack.exe.
target_link_libraries(${area}_tests PRIVATE setup_pack_lib)
add_dependencies(${area}_tests setup-pack)
