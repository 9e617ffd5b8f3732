# bench_app_startup: start-up to the first painted window and peak memory of
# the setup program's window, beside a bare Qt Widgets window (scripts/app-startup.sh
# runs both and prints the ratios).
add_executable(bench_app_startup ${CMAKE_CURRENT_LIST_DIR}/bench_app_startup.cpp)
target_link_libraries(bench_app_startup PRIVATE kv_app)
