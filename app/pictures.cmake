# The window's pictures: JPEG files compiled in as Qt resources, and the loader
# that decodes them with libjpeg. The .jpg files are committed; they are drawn
# by tools/picgen (kv_picgen), which is run by hand when a drawing changes.
add_library(kv_pictures STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Pictures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Pictures.h
  ${CMAKE_CURRENT_LIST_DIR}/PicturesJpeg.c
  ${CMAKE_CURRENT_LIST_DIR}/PicturesJpeg.h
  ${CMAKE_CURRENT_LIST_DIR}/pictures/pictures.qrc
)
target_include_directories(kv_pictures PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_pictures PUBLIC Qt6::Gui PRIVATE JPEG::JPEG)

include(${CMAKE_CURRENT_LIST_DIR}/../tools/picgen/picgen.cmake)
