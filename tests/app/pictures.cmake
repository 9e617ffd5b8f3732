kv_add_test(pictures_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/pictures_test.cpp
  LIBS kv_pictures Qt6::Gui
  NO_GTEST_MAIN
  TIMEOUT 60)
