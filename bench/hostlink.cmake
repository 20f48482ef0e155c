# bench-hostlink: host message round trips on the bare carrier and through the relay's endpoint.
add_executable(bench-hostlink ${CMAKE_CURRENT_LIST_DIR}/hostlink_bench.cpp)
target_link_libraries(bench-hostlink PRIVATE dcr_hostlink)
target_include_directories(bench-hostlink PRIVATE ${CMAKE_CURRENT_LIST_DIR})
