# bench-garbage: garbage at full line speed on one base-station port while another relays
# requests: answers, their time and the relay's memory and processor time.
add_executable(bench-garbage ${CMAKE_CURRENT_LIST_DIR}/garbage_bench.cpp)
target_link_libraries(bench-garbage PRIVATE dcr_testsupport)
target_include_directories(bench-garbage PRIVATE ${CMAKE_CURRENT_LIST_DIR})
