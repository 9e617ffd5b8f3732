# TMBarGraph: the geometry (plain functions) and the thin widget over it.
add_library(kv_bargraph STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MBarGraphLayout.cpp ${CMAKE_CURRENT_LIST_DIR}/MBarGraphLayout.h
  ${CMAKE_CURRENT_LIST_DIR}/MBarGraph.cpp ${CMAKE_CURRENT_LIST_DIR}/MBarGraph.h
)
target_include_directories(kv_bargraph PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_bargraph PUBLIC Qt6::Widgets kv_common)
