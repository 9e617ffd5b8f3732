# The simulated transmitter: the device model (plain C++, no I/O, no clock)
# its measuring physics, its output stage and the bench meter on it.
add_library(kv_sim STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DeviceModel.cpp ${CMAKE_CURRENT_LIST_DIR}/DeviceModel.h
  ${CMAKE_CURRENT_LIST_DIR}/FrontEnd.cpp ${CMAKE_CURRENT_LIST_DIR}/FrontEnd.h
  ${CMAKE_CURRENT_LIST_DIR}/OutputStage.cpp ${CMAKE_CURRENT_LIST_DIR}/OutputStage.h
  ${CMAKE_CURRENT_LIST_DIR}/BenchMeter.cpp ${CMAKE_CURRENT_LIST_DIR}/BenchMeter.h
  ${CMAKE_CURRENT_LIST_DIR}/Random.h
  ${CMAKE_CURRENT_LIST_DIR}/Faults.cpp ${CMAKE_CURRENT_LIST_DIR}/Faults.h
)
target_include_directories(kv_sim PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_sim PUBLIC kv_records kv_physics)

# The simulator's protocol glue (the link engine as ASCII slave, the bench
# meter's session) and the in-process device and meter for the programs'
# tests (memory port, manual clock).
add_library(kv_sim_link STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SimSlave.cpp ${CMAKE_CURRENT_LIST_DIR}/SimSlave.h
  ${CMAKE_CURRENT_LIST_DIR}/InProcessDevice.cpp ${CMAKE_CURRENT_LIST_DIR}/InProcessDevice.h
  ${CMAKE_CURRENT_LIST_DIR}/MeterSession.cpp ${CMAKE_CURRENT_LIST_DIR}/MeterSession.h
  ${CMAKE_CURRENT_LIST_DIR}/InProcessMeter.cpp ${CMAKE_CURRENT_LIST_DIR}/InProcessMeter.h
)
target_include_directories(kv_sim_link PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_sim_link PUBLIC kv_sim kv_link_core kv_link_port)

add_executable(kvsim
  ${CMAKE_CURRENT_LIST_DIR}/kvsim_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PtyLine.cpp ${CMAKE_CURRENT_LIST_DIR}/PtyLine.h
  ${CMAKE_CURRENT_LIST_DIR}/PtyServer.cpp ${CMAKE_CURRENT_LIST_DIR}/PtyServer.h
  ${CMAKE_CURRENT_LIST_DIR}/MeterServer.cpp ${CMAKE_CURRENT_LIST_DIR}/MeterServer.h
)
target_link_libraries(kvsim PRIVATE kv_sim_link kv_version Qt6::Core)
install(TARGETS kvsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
