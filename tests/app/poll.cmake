# The poll cycle and the settings page: the window on a manual clock, its link
# answered by the in-process device model.
kv_add_test(app_poll_tests NO_GTEST_MAIN
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AppTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/poll_cycle_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings_page_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings_file_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/input_calibration_test.cpp
  LIBS kv_app kv_sim_link Qt6::Test
  TIMEOUT 180)
target_include_directories(app_poll_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
