add_dependencies(${area}_tests planted-dll)
target_link_libraries(${area}_tests PRIVATE imagehlp)
