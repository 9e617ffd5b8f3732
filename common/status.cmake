# What a poll answer shows, as texts: shared by the window's status display
# and kvctl. No widgets.
add_library(kv_status STATIC
  ${CMAKE_CURRENT_LIST_DIR}/StatusTexts.cpp ${CMAKE_CURRENT_LIST_DIR}/StatusTexts.h
)
target_include_directories(kv_status PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_status PUBLIC kv_common kv_records kv_settings)
