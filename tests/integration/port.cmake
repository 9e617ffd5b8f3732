# The serial port and its receive thread on real pseudo-terminals.
include(${CMAKE_CURRENT_LIST_DIR}/../support/pty.cmake)
kv_add_test(pty_port_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/pty_PortTest.cpp
  LIBS kv_link_port kv_test_pty
  NO_GTEST_MAIN
  TIMEOUT 60)
