kv_add_test(sim_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/RecordsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeviceModelTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OutputStageTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BenchMeterTest.cpp
  LIBS kv_sim kv_records
  TIMEOUT 60)

kv_add_test(sim_inprocess_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/InProcessDeviceTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SimMaster.h
  LIBS kv_sim_link Qt6::Core
  TIMEOUT 60
  NO_GTEST_MAIN)
target_include_directories(sim_inprocess_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})

kv_add_test(sim_meter_session_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MeterSessionTest.cpp
  LIBS kv_sim_link Qt6::Core
  TIMEOUT 60
  NO_GTEST_MAIN)
