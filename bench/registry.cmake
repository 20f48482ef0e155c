# bench-registry: loading a registration file of 10,000 handheld entries.
add_executable(bench-registry ${CMAKE_CURRENT_LIST_DIR}/registry_bench.cpp)
target_link_libraries(bench-registry PRIVATE dcr_config)
