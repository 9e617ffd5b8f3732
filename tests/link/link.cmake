# Tests of the link without widgets: its port steps on the in-memory port.
kv_add_test(link_line_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_test.cpp
  LIBS kv_link_line
  NO_GTEST_MAIN
  TIMEOUT 60)
