# bench_certificate: the time to write one typical calibration certificate
# (PDF and JSON, written whole) and its size.
add_executable(bench_certificate ${CMAKE_CURRENT_LIST_DIR}/bench_certificate.cpp)
target_link_libraries(bench_certificate PRIVATE kv_certificate Qt6::Core benchmark::benchmark)
target_include_directories(bench_certificate PRIVATE ${CMAKE_SOURCE_DIR}/tests/station)
