# The output calibration end to end: the window against kvsim over a
# pseudo-terminal, an operator reading kvsim's meter, three boards.
if(TARGET kvsim AND TARGET kv_app)
  kv_add_test(outcal_e2e_tests NO_GTEST_MAIN
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/outcal_e2e_test.cpp
    LIBS kv_app Qt6::Core
    TIMEOUT 120
    LABELS integration)
  target_include_directories(outcal_e2e_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
  target_compile_definitions(outcal_e2e_tests PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>")
  add_dependencies(outcal_e2e_tests kvsim)
endif()
