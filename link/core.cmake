# kv_link_core: frames, receivers, the transaction engine, the modes and the
# timer seam. Plain C++; Qt Core only for the production QTimer factory.
add_library(kv_link_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MBFrames.cpp ${CMAKE_CURRENT_LIST_DIR}/MBFrames.h
  ${CMAKE_CURRENT_LIST_DIR}/MBTimer.cpp ${CMAKE_CURRENT_LIST_DIR}/MBTimer.h
  ${CMAKE_CURRENT_LIST_DIR}/MBEngine.cpp ${CMAKE_CURRENT_LIST_DIR}/MBEngine.h
  ${CMAKE_CURRENT_LIST_DIR}/MBModes.cpp
)
target_include_directories(kv_link_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_link_core PUBLIC kv_common Qt6::Core)
if(KV_FUZZ)
  # Edge coverage for the fuzzers that drive the receivers and the engine,
  # without comparison tracing: the receivers look at every byte through a
  # class table and single-byte compares, which libFuzzer's comparison hooks
  # do not turn into mutations, and a frame passes only with a right CRC,
  # which no comparison hint solves. What the hooks did cost was the
  # loop-bound compares of every byte: 2.5 x the time of an execution.
  target_compile_options(kv_link_core PRIVATE -fsanitize=fuzzer-no-link -fno-sanitize-coverage=trace-cmp)
endif()
