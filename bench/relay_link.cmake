# bench-relay-link: the receive pipeline's ticks for 1,000 queued frames, the idle relay with
# four open ports, and the relay's own time per request end to end with both simulators, also
# against the floor.
add_executable(bench-relay-link ${CMAKE_CURRENT_LIST_DIR}/relay_link_bench.cpp)
target_link_libraries(bench-relay-link PRIVATE dcr_controller dcr_testsupport)
target_include_directories(bench-relay-link PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(bench-relay-link PRIVATE DCRELAY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(bench-relay-link bench-floor-relay)
