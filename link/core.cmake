# kv_link_core: frames, receivers, the transaction engine, the modes and the
# timer seam. Plain C++; Qt Core only for the production QTimer factory.
set(_kv_core_sources
  ${CMAKE_CURRENT_LIST_DIR}/MBFrames.cpp ${CMAKE_CURRENT_LIST_DIR}/MBFrames.h
  ${CMAKE_CURRENT_LIST_DIR}/MBTimer.cpp ${CMAKE_CURRENT_LIST_DIR}/MBTimer.h
)
foreach(_f MBEngine.cpp MBEngine.h MBModes.cpp)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${_f})
    list(APPEND _kv_core_sources ${CMAKE_CURRENT_LIST_DIR}/${_f})
  endif()
endforeach()
add_library(kv_link_core STATIC ${_kv_core_sources})
target_include_directories(kv_link_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kv_link_core PUBLIC kv_common Qt6::Core)
