# DecodeJpeg on arbitrary bytes. With KV_FUZZ a libFuzzer binary (seed it with
# app/pictures/*.jpg); otherwise a replay test over the shipped pictures and
# inputs made from them (truncations, flipped bytes, random bytes).
if(KV_FUZZ)
  add_executable(fuzz_jpeg ${CMAKE_CURRENT_LIST_DIR}/fuzz_jpeg.cpp)
  target_compile_definitions(fuzz_jpeg PRIVATE KV_FUZZ_LIBFUZZER)
  target_compile_options(fuzz_jpeg PRIVATE -fsanitize=fuzzer ${KV_FUZZ_HARNESS_FLAGS})
  target_link_options(fuzz_jpeg PRIVATE -fsanitize=fuzzer)
  target_compile_options(kv_pictures PRIVATE -fsanitize=fuzzer-no-link)
  target_link_libraries(fuzz_jpeg PRIVATE kv_pictures)
else()
  add_executable(fuzz_jpeg_replay ${CMAKE_CURRENT_LIST_DIR}/fuzz_jpeg.cpp)
  target_compile_definitions(fuzz_jpeg_replay PRIVATE
    KV_PICTURES_DIR="${CMAKE_SOURCE_DIR}/app/pictures"
    KV_FUZZ_CORPUS_DIR="${CMAKE_CURRENT_LIST_DIR}/corpus/jpeg")
  target_link_libraries(fuzz_jpeg_replay PRIVATE kv_pictures)
  add_test(NAME fuzz_jpeg_replay COMMAND fuzz_jpeg_replay)
  set_tests_properties(fuzz_jpeg_replay PROPERTIES
    TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
