# kvsoak: the window against kvsim for hours with every line fault in turn
# (scripts/soak.sh runs it and plots its figures; not a test).
add_executable(kvsoak ${CMAKE_CURRENT_LIST_DIR}/soak_app.cpp)
target_link_libraries(kvsoak PRIVATE kv_app Qt6::Widgets)
target_include_directories(kvsoak PRIVATE ${CMAKE_SOURCE_DIR}/tests/sim)
target_compile_definitions(kvsoak PRIVATE KVSIM_PATH="$<TARGET_FILE:kvsim>")
add_dependencies(kvsoak kvsim)
