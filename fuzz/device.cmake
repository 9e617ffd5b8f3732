# fuzz_device: the transmitter's record decoders and the simulated device.
if(KV_FUZZ)
  # Coverage of the code under test, not only of the target's own lines.
  target_compile_options(kv_sim PRIVATE -fsanitize=fuzzer-no-link)
  target_compile_options(kv_records PRIVATE -fsanitize=fuzzer-no-link)
  # The thermocouple and sensor curves are arithmetic in loops (bisection,
  # polynomials): their comparisons steer nothing; edges stay counted.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/sim/Physics.cpp TARGET_DIRECTORY kv_sim
    PROPERTIES COMPILE_OPTIONS -fno-sanitize-coverage=trace-cmp)
  add_executable(fuzz_device ${CMAKE_CURRENT_LIST_DIR}/fuzz_device.cpp)
  target_compile_options(fuzz_device PRIVATE -fsanitize=fuzzer ${KV_FUZZ_HARNESS_FLAGS})
  target_link_options(fuzz_device PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_device PRIVATE kv_sim)
else()
  add_executable(fuzz_device_replay ${CMAKE_CURRENT_LIST_DIR}/fuzz_device.cpp)
  target_compile_definitions(fuzz_device_replay PRIVATE KV_FUZZ_REPLAY
    KV_FUZZ_CORPUS_DIR="${CMAKE_CURRENT_LIST_DIR}/corpus/device")
  target_link_libraries(fuzz_device_replay PRIVATE kv_sim)
  if(KV_BUILD_TESTS)
    add_test(NAME fuzz_device_replay COMMAND fuzz_device_replay)
    set_tests_properties(fuzz_device_replay PROPERTIES TIMEOUT 120)
  endif()
endif()
