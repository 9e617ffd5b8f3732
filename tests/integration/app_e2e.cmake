# The program's poll cycle end to end against kvsim over a pseudo-terminal,
# with the real port, receive thread and Qt timers; the output calibration
# by an operator reading kvsim's meter and the input calibration by one
# connecting kvsim's references, each on three boards.
kv_add_test(app_e2e_tests NO_GTEST_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/app_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/input_calibration_e2e_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/outcal_e2e_test.cpp
  LIBS kv_app Qt6::Core
  TIMEOUT 180
  LABELS integration)
target_include_directories(app_e2e_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(app_e2e_tests PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>")
add_dependencies(app_e2e_tests kvsim)
