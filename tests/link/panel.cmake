# Tests of the link panel: its texts and graph (plain), the widget offscreen.
kv_add_test(link_panel_view_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/panel_view_test.cpp
  LIBS kv_link TIMEOUT 60)
kv_add_test(link_panel_widget_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/panel_widget_test.cpp ${CMAKE_CURRENT_LIST_DIR}/panel_support.h
  LIBS kv_link TIMEOUT 120 NO_GTEST_MAIN)
