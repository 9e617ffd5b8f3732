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
  # Coverage for the fuzzers that drive the receivers and the engine.
  target_compile_options(kv_link_core PRIVATE -fsanitize=fuzzer-no-link)
endif()
