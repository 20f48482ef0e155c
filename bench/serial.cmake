# bench-serial: delivery delay after a burst, send throughput, and the idle cost of open ports,
# all on pseudo-terminals.
add_executable(bench-serial ${CMAKE_CURRENT_LIST_DIR}/serial_bench.cpp)
target_link_libraries(bench-serial PRIVATE dcr_serial dcr_testsupport)
target_include_directories(bench-serial PRIVATE ${CMAKE_CURRENT_LIST_DIR})
