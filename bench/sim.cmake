# bench_sim: the device model's cost per poll, and the program's poll cycle
# against kvsim over a pseudo-terminal compared with the line's limit.
add_executable(bench_sim ${CMAKE_CURRENT_LIST_DIR}/bench_sim.cpp)
target_link_libraries(bench_sim PRIVATE kv_sim_link kv_link_port Qt6::Core benchmark::benchmark)
target_include_directories(bench_sim PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
target_compile_definitions(bench_sim PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>")
add_dependencies(bench_sim kvsim)
