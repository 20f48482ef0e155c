# bench-download: processor time of the menu download while it broadcasts the example menu with
# production pacing to a pseudo-terminal's far end.
add_executable(bench-download ${CMAKE_CURRENT_LIST_DIR}/download_bench.cpp)
target_link_libraries(bench-download PRIVATE dcr_download dcr_serial dcr_app_core dcr_testsupport)
target_include_directories(bench-download PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(bench-download PRIVATE DCRELAY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
