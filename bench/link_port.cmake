# Receive hand-over latency over a pseudo-terminal.
include(${CMAKE_CURRENT_LIST_DIR}/../tests/support/pty.cmake)
add_executable(bench_handover ${CMAKE_CURRENT_LIST_DIR}/bench_handover.cpp)
target_link_libraries(bench_handover PRIVATE kv_link_port kv_test_pty benchmark::benchmark)
