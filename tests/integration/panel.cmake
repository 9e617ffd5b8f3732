# The link panel over real pseudo-terminals.
include(${CMAKE_CURRENT_LIST_DIR}/../support/pty.cmake)
kv_add_test(panel_pty_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/panel_PtyTest.cpp
  LIBS kv_link kv_test_pty
  NO_GTEST_MAIN
  TIMEOUT 60)
