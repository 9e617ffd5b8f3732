# kvsim over pseudo-terminals, end to end with the real tty port.
kv_add_test(sim_pty_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_pty_test.cpp
  LIBS kv_sim_link kv_link_port Qt6::Core
  TIMEOUT 240
  LABELS integration
  NO_GTEST_MAIN)
target_include_directories(sim_pty_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
target_compile_definitions(sim_pty_tests PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>")
add_dependencies(sim_pty_tests kvsim)
