# The simulated transmitter: the device model (plain C++, no I/O, no clock)
# and its measuring physics.
add_library(kv_sim STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DeviceModel.cpp ${CMAKE_CURRENT_LIST_DIR}/DeviceModel.h
  ${CMAKE_CURRENT_LIST_DIR}/Physics.cpp ${CMAKE_CURRENT_LIST_DIR}/Physics.h
  ${CMAKE_CURRENT_LIST_DIR}/Faults.cpp ${CMAKE_CURRENT_LIST_DIR}/Faults.h
)
target_include_directories(kv_sim PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_sim PUBLIC kv_records)
