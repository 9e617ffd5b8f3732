# kv_picgen draws the window's pictures and writes them into app/pictures.
# It is not run by the build; see the comment at the top of picgen.cpp. It
# uses only the name, size and place tables of app/Pictures.h, not the
# library, so it builds even before the pictures exist.
add_executable(kv_picgen ${CMAKE_CURRENT_LIST_DIR}/picgen.cpp)
target_include_directories(kv_picgen PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../../app)
target_link_libraries(kv_picgen PRIVATE Qt6::Gui JPEG::JPEG)
set_target_properties(kv_picgen PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/picgen)
