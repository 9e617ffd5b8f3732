# The version number, generated from project(VERSION): one number for the
# window, kvctl and kvsim (and the Debian package's changelog, checked by
# scripts/package.sh).
configure_file(${CMAKE_CURRENT_LIST_DIR}/KvVersion.h.in ${CMAKE_BINARY_DIR}/generated/KvVersion.h @ONLY)
add_library(kv_version INTERFACE)
target_include_directories(kv_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
