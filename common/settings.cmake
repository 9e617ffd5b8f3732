# The settings page's rules without widgets (record <-> page <-> .kvs file),
# shared by the window and kvctl. QtCore only.
add_library(kv_settings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SettingsModel.cpp ${CMAKE_CURRENT_LIST_DIR}/SettingsModel.h
  ${CMAKE_CURRENT_LIST_DIR}/SettingsActions.cpp ${CMAKE_CURRENT_LIST_DIR}/SettingsActions.h
)
target_include_directories(kv_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_settings PUBLIC Qt6::Core kv_common kv_records kv_ini)
