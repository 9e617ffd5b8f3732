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
    ${CMAKE_CURRENT_LIST_DIR}/TextFit.h
    ${CMAKE_CURRENT_LIST_DIR}/LanguageTest.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/TsCatalog.h
  LIBS kv_app Qt6::Test
  TIMEOUT 120)
target_include_directories(app_window_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(app_window_tests PRIVATE KV_TRANSLATIONS_DIR="${CMAKE_SOURCE_DIR}/translations")
# The layout once more in English (kvsetup --lang en): every caption as the
# translation gives it, in its place, and none cut off.
add_test(NAME app_layout_english_tests COMMAND app_window_tests --gtest_filter=Layout.*:WindowFit.*)
set_tests_properties(app_layout_english_tests PROPERTIES
  TIMEOUT 120
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=120000;KV_TEST_LANGUAGE=en")
target_compile_definitions(app_window_tests PRIVATE KVSETUP_PATH="$<TARGET_FILE:kvsetup>")
add_dependencies(app_window_tests kvsetup)
