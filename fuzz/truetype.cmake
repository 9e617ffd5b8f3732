# The certificate's TrueType reader and subsetter on arbitrary bytes. With
# KV_FUZZ a libFuzzer binary (seed it with the Liberation font files);
# otherwise a replay test over those files and inputs made from them (bytes
# changed in every table the reader parses, truncations).
if(KV_FUZZ)
  add_executable(fuzz_truetype ${CMAKE_CURRENT_LIST_DIR}/fuzz_truetype.cpp)
  target_compile_definitions(fuzz_truetype PRIVATE KV_FUZZ_LIBFUZZER)
  target_compile_options(fuzz_truetype PRIVATE -fsanitize=fuzzer ${KV_FUZZ_HARNESS_FLAGS})
  target_link_options(fuzz_truetype PRIVATE -fsanitize=fuzzer)
  target_compile_options(kv_certificate PRIVATE -fsanitize=fuzzer-no-link)
  target_link_libraries(fuzz_truetype PRIVATE kv_certificate)
else()
  add_executable(fuzz_truetype_replay ${CMAKE_CURRENT_LIST_DIR}/fuzz_truetype.cpp)
  target_compile_definitions(fuzz_truetype_replay PRIVATE
    KV_FUZZ_CORPUS_DIR="${CMAKE_CURRENT_LIST_DIR}/corpus/truetype")
  target_link_libraries(fuzz_truetype_replay PRIVATE kv_certificate)
  add_test(NAME fuzz_truetype_replay COMMAND fuzz_truetype_replay)
  set_tests_properties(fuzz_truetype_replay PROPERTIES TIMEOUT 120)
endif()
