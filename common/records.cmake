# The transmitter's command numbers and record layouts, shared by the setup
# program and the simulator. Toolkit-free.
add_library(kv_records STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DeviceRecords.cpp ${CMAKE_CURRENT_LIST_DIR}/DeviceRecords.h
)
target_include_directories(kv_records PUBLIC ${CMAKE_CURRENT_LIST_DIR})
