# Two link components in real time over a pair of pseudo-terminals joined by
# a relay thread: ASCII and binary transactions back to back, and a request
# the line loses.
include(${CMAKE_CURRENT_LIST_DIR}/../support/pty.cmake)
kv_add_test(link_rt_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_rt_test.cpp ${CMAKE_CURRENT_LIST_DIR}/link_rt_support.h
  LIBS kv_link kv_test_pty
  NO_GTEST_MAIN
  LABELS integration
  TIMEOUT 120)
