add_executable(bench-pumpwait ${CMAKE_CURRENT_LIST_DIR}/pumpwait_bench.cpp)
target_link_libraries(bench-pumpwait PRIVATE dcr_app_core)
