# The setup program's tests: the INI file (plain), and the window with its
# controls (offscreen, with their own QApplication main).
kv_add_test(app_ini_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFileTest.cpp LIBS kv_ini TIMEOUT 60)

kv_add_test(app_window_tests NO_GTEST_MAIN
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AppTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ControlsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LayoutTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ScreenshotTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShellTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowFitTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ButtonLookTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TextWidthTest.cpp
  LIBS kv_app Qt6::Test
  TIMEOUT 120)
target_compile_definitions(app_window_tests PRIVATE KVSETUP_PATH="$<TARGET_FILE:kvsetup>")
add_dependencies(app_window_tests kvsetup)
