# bench-status: the main thread's cost of a status answer, alone and through the status socket.
add_executable(bench-status ${CMAKE_CURRENT_LIST_DIR}/status_bench.cpp)
target_link_libraries(bench-status PRIVATE dcr_controller dcr_testsupport)
target_include_directories(bench-status PRIVATE ${CMAKE_CURRENT_LIST_DIR})
