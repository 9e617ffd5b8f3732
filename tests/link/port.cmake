# Tests of the port layer that need no device: the in-memory port and the
# pieces of the port list. (Real ttys: tests/integration/pty_*.)
kv_add_test(port_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/port_MemoryPortTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/port_ListPortsTest.cpp
  LIBS kv_link_port
  NO_GTEST_MAIN
  TIMEOUT 30)
