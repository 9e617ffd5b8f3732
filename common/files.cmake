# Whole-file writes (temporary file, flush, rename), exclusively claimed new
# names and the append-only CSV log: kvctl's outputs and the calibration
# station's certificates.
add_library(kv_files STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Files.cpp ${CMAKE_CURRENT_LIST_DIR}/Files.h
)
target_include_directories(kv_files PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_files PUBLIC Qt6::Core kv_ini)
