# kv_test_pty: the pseudo-terminal helper of tests and benchmarks (Pty.h).
# Included by every list that needs it; the guard keeps one target.
if(NOT TARGET kv_test_pty)
  add_library(kv_test_pty STATIC ${CMAKE_CURRENT_LIST_DIR}/Pty.cpp ${CMAKE_CURRENT_LIST_DIR}/Pty.h)
  target_include_directories(kv_test_pty PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
