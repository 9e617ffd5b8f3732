# kv_add_test(NAME SOURCES ... LIBS ... [TIMEOUT seconds] [LABELS ...] [NO_GTEST_MAIN])
# One GoogleTest executable registered with CTest. Every test runs offscreen
# and with a hard time limit, so a hung test fails instead of stalling CI.
# NO_GTEST_MAIN: the sources bring their own main (a widget test creates its
# QApplication there before RUN_ALL_TESTS).
function(kv_add_test name)
  cmake_parse_arguments(KT "NO_GTEST_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT KT_TIMEOUT)
    set(KT_TIMEOUT 120)
  endif()
  add_executable(${name} ${KT_SOURCES})
  if(KT_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE ${KT_LIBS} GTest::gtest Threads::Threads)
  else()
    target_link_libraries(${name} PRIVATE ${KT_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  math(EXPR _ms "${KT_TIMEOUT} * 1000")
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${KT_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=${_ms}")
  if(KT_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${KT_LABELS}")
  endif()
endfunction()
