# kvctl calibrate output against kvsim and its bench meter over pseudo-terminals.
kv_add_test(calibrate_output_pty_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibrate_output_pty_test.cpp
  LIBS Qt6::Core
  TIMEOUT 900
  LABELS integration calibration
  NO_GTEST_MAIN)
target_include_directories(calibrate_output_pty_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
target_compile_definitions(calibrate_output_pty_tests PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>" KVCTL_PATH="$<TARGET_FILE:kvctl>"
                                                              KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(calibrate_output_pty_tests kvsim kvctl)

# verify and calibrate all|input|output with the example bench and its
# fixture script, against kvsim and its bench meter over pseudo-terminals.
kv_add_test(station_pty_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/station_pty_test.cpp
  LIBS Qt6::Core
  TIMEOUT 900
  LABELS integration calibration
  NO_GTEST_MAIN)
target_include_directories(station_pty_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
target_compile_definitions(station_pty_tests PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>" KVCTL_PATH="$<TARGET_FILE:kvctl>"
                                                     KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(station_pty_tests kvsim kvctl)
