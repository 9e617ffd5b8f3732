# The INI file: toolkit-free, used by the main window's own INI file and by
# the settings files.
add_library(kv_ini STATIC
  ${CMAKE_CURRENT_LIST_DIR}/IniFile.cpp ${CMAKE_CURRENT_LIST_DIR}/IniFile.h
)
target_include_directories(kv_ini PUBLIC ${CMAKE_CURRENT_LIST_DIR})
