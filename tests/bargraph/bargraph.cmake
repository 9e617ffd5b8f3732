kv_add_test(bargraph_layout_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/MBarGraphLayoutTest.cpp
  LIBS kv_bargraph TIMEOUT 60)
kv_add_test(bargraph_widget_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/MBarGraphWidgetTest.cpp
  LIBS kv_bargraph TIMEOUT 60 NO_GTEST_MAIN)
