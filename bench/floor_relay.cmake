# bench-floor-relay: the least a relay does for a request (the same hops and waits, nothing
# else), started by dcrelay-hostsim for bench-relay-link to measure the relay against.
add_executable(bench-floor-relay ${CMAKE_CURRENT_LIST_DIR}/floor_relay.cpp)
target_link_libraries(bench-floor-relay PRIVATE dcr_codec dcr_serial_pure dcr_hostlink_pure
  dcr_text)
