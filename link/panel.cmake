# kv_link: TMB, the group box with its panel, over the link without widgets
# (kv_link_line).
add_library(kv_link STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MB.cpp ${CMAKE_CURRENT_LIST_DIR}/MB.h
  ${CMAKE_CURRENT_LIST_DIR}/MBPanel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MBPanelView.cpp ${CMAKE_CURRENT_LIST_DIR}/MBPanelView.h
)
target_include_directories(kv_link PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_link PUBLIC Qt6::Widgets kv_common kv_link_line)
