# fuzz_kvctl: kvctl's command line and its reading of settings files. With
# KV_FUZZ a libFuzzer binary (seed it with fuzz/corpus/kvctl); otherwise a
# replay test over that corpus and variants of it.
if(KV_FUZZ)
  target_compile_options(kv_ctl PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(fuzz_kvctl ${CMAKE_CURRENT_LIST_DIR}/fuzz_kvctl.cpp)
  target_compile_definitions(fuzz_kvctl PRIVATE KV_FUZZ_LIBFUZZER)
  target_compile_options(fuzz_kvctl PRIVATE -fsanitize=fuzzer ${KV_FUZZ_HARNESS_FLAGS})
  target_link_options(fuzz_kvctl PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_kvctl PRIVATE kv_ctl)
else()
  add_executable(fuzz_kvctl_replay ${CMAKE_CURRENT_LIST_DIR}/fuzz_kvctl.cpp)
  target_compile_definitions(fuzz_kvctl_replay PRIVATE KV_KVCTL_CORPUS="${CMAKE_CURRENT_LIST_DIR}/corpus/kvctl")
  target_link_libraries(fuzz_kvctl_replay PRIVATE kv_ctl)
  if(KV_BUILD_TESTS)
    add_test(NAME fuzz_kvctl_replay COMMAND fuzz_kvctl_replay)
    set_tests_properties(fuzz_kvctl_replay PROPERTIES TIMEOUT 120)
  endif()
endif()
