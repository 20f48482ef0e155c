# Processor time of an active directory watcher on an idle directory.
add_executable(bench-dirchange ${CMAKE_CURRENT_LIST_DIR}/dirchange.cpp)
target_link_libraries(bench-dirchange PRIVATE dcr_dirchange)
