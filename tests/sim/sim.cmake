kv_add_test(sim_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/RecordsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PhysicsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeviceModelTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultsTest.cpp
  LIBS kv_sim kv_records
  TIMEOUT 60)
