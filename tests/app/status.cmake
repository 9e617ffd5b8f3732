# The status display and the developer page: the window offscreen, fed with
# poll answers composed into its link's receive buffer, and by the poll cycle
# from the in-process device model.
kv_add_test(app_status_tests NO_GTEST_MAIN
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AppTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/status_support.h
    ${CMAKE_CURRENT_LIST_DIR}/status_display_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/status_live_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/developer_page_test.cpp
  LIBS kv_app kv_sim_link
  TIMEOUT 120)
