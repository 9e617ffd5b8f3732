# The measuring physics of temperature sensors (platinum resistance
# thermometers, thermocouples): the simulator measures with it, the
# calibration station computes its verification points with it. Plain C++.
add_library(kv_physics STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Physics.cpp ${CMAKE_CURRENT_LIST_DIR}/Physics.h
)
target_include_directories(kv_physics PUBLIC ${CMAKE_CURRENT_LIST_DIR})
