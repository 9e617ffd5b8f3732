# bench_kvctl_watch: kvctl's watch against kvsim with line timing: polls per
# second against the line's limit, CPU per poll.
add_executable(bench_kvctl_watch ${CMAKE_CURRENT_LIST_DIR}/bench_kvctl_watch.cpp)
target_link_libraries(bench_kvctl_watch PRIVATE kv_ctl Qt6::Core benchmark::benchmark)
target_include_directories(bench_kvctl_watch PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
target_compile_definitions(bench_kvctl_watch PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>")
add_dependencies(bench_kvctl_watch kvsim)
