# fuzz_bench: the calibration bench file reader on arbitrary text. With
# KV_FUZZ a libFuzzer binary (seed it with fuzz/corpus/bench); otherwise a
# replay test over that corpus and variants of it.
if(KV_FUZZ)
  target_compile_options(kv_station PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(fuzz_bench ${CMAKE_CURRENT_LIST_DIR}/fuzz_bench.cpp)
  target_compile_definitions(fuzz_bench PRIVATE KV_FUZZ_LIBFUZZER)
  target_compile_options(fuzz_bench PRIVATE -fsanitize=fuzzer ${KV_FUZZ_HARNESS_FLAGS})
  target_link_options(fuzz_bench PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_bench PRIVATE kv_station)
else()
  add_executable(fuzz_bench_replay ${CMAKE_CURRENT_LIST_DIR}/fuzz_bench.cpp)
  target_compile_definitions(fuzz_bench_replay PRIVATE KV_BENCH_CORPUS="${CMAKE_CURRENT_LIST_DIR}/corpus/bench")
  target_link_libraries(fuzz_bench_replay PRIVATE kv_station)
  if(KV_BUILD_TESTS)
    add_test(NAME fuzz_bench_replay COMMAND fuzz_bench_replay)
    set_tests_properties(fuzz_bench_replay PROPERTIES TIMEOUT 120)
  endif()
endif()
