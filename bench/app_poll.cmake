# bench_app_poll: the program's poll cycle (the real window offscreen, its link
# on the system's port) against kvsim with line timing: polls per second
# against the line's limit, where a cycle's time goes, CPU per cycle, peak
# memory.
add_executable(bench_app_poll ${CMAKE_CURRENT_LIST_DIR}/bench_app_poll.cpp)
target_link_libraries(bench_app_poll PRIVATE kv_app Qt6::Core benchmark::benchmark)
target_include_directories(bench_app_poll PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
target_compile_definitions(bench_app_poll PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>")
add_dependencies(bench_app_poll kvsim)
