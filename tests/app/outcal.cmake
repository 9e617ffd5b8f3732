# The output calibration wizard: the window on a manual clock, its link
# answered by the in-process device model.
kv_add_test(app_outcal_tests NO_GTEST_MAIN
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AppTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/output_calibration_test.cpp
  LIBS kv_app kv_sim_link Qt6::Test
  TIMEOUT 120)
