# bench_link_rt: lateness of the 20 ms start delay and the transaction time
# of two link components over a pty pair (the real-time test's pair and relay).
include(${CMAKE_CURRENT_LIST_DIR}/../tests/support/pty.cmake)
add_executable(bench_link_rt ${CMAKE_CURRENT_LIST_DIR}/bench_link_rt.cpp)
target_link_libraries(bench_link_rt PRIVATE kv_link kv_test_pty)
target_include_directories(bench_link_rt PRIVATE ${CMAKE_SOURCE_DIR}/tests/integration)
