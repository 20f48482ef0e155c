# bench-window: the idle relay with its window shown under Xvfb, and 100,000 log lines appended
# to the window offscreen (time and resident size).
add_executable(bench-window ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
target_link_libraries(bench-window PRIVATE dcr_widgets dcr_testsupport dcr_xtestsupport)
target_include_directories(bench-window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
