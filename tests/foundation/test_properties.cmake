add_dependencies(${area}_tests planted-dll)
