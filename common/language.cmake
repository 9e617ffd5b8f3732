# The language the programs speak and their translations (Language.h): the
# .ts files of translations/ compiled to .qm at build time and built into
# every program that links kv_lang. Qt Core only.
add_library(kv_lang STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Language.cpp ${CMAKE_CURRENT_LIST_DIR}/Language.h
)
target_include_directories(kv_lang PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_lang PUBLIC Qt6::Core)
include(${CMAKE_SOURCE_DIR}/translations/translations.cmake)
