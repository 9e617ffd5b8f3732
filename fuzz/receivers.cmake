# fuzz_receivers: every receiving mode of the link behind the engine.
if(KV_FUZZ)
  add_executable(fuzz_receivers ${CMAKE_CURRENT_LIST_DIR}/fuzz_receivers.cpp)
  target_compile_options(fuzz_receivers PRIVATE -fsanitize=fuzzer ${KV_FUZZ_HARNESS_FLAGS})
  target_link_options(fuzz_receivers PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_receivers PRIVATE kv_link_core)
else()
  add_executable(fuzz_receivers_replay ${CMAKE_CURRENT_LIST_DIR}/fuzz_receivers.cpp)
  target_compile_definitions(fuzz_receivers_replay PRIVATE KV_FUZZ_REPLAY
    KV_FUZZ_CORPUS_DIR="${CMAKE_CURRENT_LIST_DIR}/corpus/receivers")
  target_link_libraries(fuzz_receivers_replay PRIVATE kv_link_core)
  if(KV_BUILD_TESTS)
    add_test(NAME fuzz_receivers_replay COMMAND fuzz_receivers_replay)
    set_tests_properties(fuzz_receivers_replay PROPERTIES TIMEOUT 120
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endif()
