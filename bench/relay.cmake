# bench-relay: the relay's own cost per request (record building, reply reading, file round trip).
add_executable(bench-relay ${CMAKE_CURRENT_LIST_DIR}/relay_bench.cpp)
target_link_libraries(bench-relay PRIVATE dcr_relay)
