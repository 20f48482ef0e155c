# bench-silent-station: requests through a working station while station 1 does not answer.
add_executable(bench-silent-station ${CMAKE_CURRENT_LIST_DIR}/silent_station_bench.cpp)
target_link_libraries(bench-silent-station PRIVATE dcr_controller dcr_testsupport)
