# bench_link_core: receiver throughput and engine cost per transaction.
add_executable(bench_link_core ${CMAKE_CURRENT_LIST_DIR}/bench_link_core.cpp)
target_link_libraries(bench_link_core PRIVATE kv_link_core benchmark::benchmark)
