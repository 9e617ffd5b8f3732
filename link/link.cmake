# kv_link_line: the link without widgets, TMBLink: the engine (kv_link_core)
# with its port (kv_link_port) and the port steps. The panel and kvctl build
# on it.
add_library(kv_link_line STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MBLink.cpp ${CMAKE_CURRENT_LIST_DIR}/MBLink.h
)
target_include_directories(kv_link_line PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_link_line PUBLIC Qt6::Core kv_link_core kv_link_port)
