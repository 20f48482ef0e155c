# bench-pack: packing tables at every area's capacity and assembling FF.bin.
add_executable(bench-pack ${CMAKE_CURRENT_LIST_DIR}/pack_bench.cpp)
target_link_libraries(bench-pack PRIVATE dcr_menu)
