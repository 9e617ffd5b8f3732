# Tests of the link's frame core, timer seam and engine.
kv_add_test(link_core_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_frames_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_timer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_engine_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_modes_test.cpp
  LIBS kv_link_core TIMEOUT 120)
target_include_directories(link_core_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
