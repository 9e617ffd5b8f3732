# kv_link_port: the port seam TMBPort, the Linux serial port with its receive
# thread TCommThread, the in-memory port, and the port list.
add_library(kv_link_port STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MBPort.h ${CMAKE_CURRENT_LIST_DIR}/MBPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommThread.h ${CMAKE_CURRENT_LIST_DIR}/CommThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MBSerialPortLinux.h ${CMAKE_CURRENT_LIST_DIR}/MBSerialPortLinux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MBMemoryPort.h ${CMAKE_CURRENT_LIST_DIR}/MBMemoryPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MBListPorts.h ${CMAKE_CURRENT_LIST_DIR}/MBListPorts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MBPortHolders.h ${CMAKE_CURRENT_LIST_DIR}/MBPortHolders.cpp
)
target_include_directories(kv_link_port PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_link_port PUBLIC Qt6::Core Threads::Threads)
