# kv_test_syscall_log: LD_PRELOAD'ed into a program under test, it writes
# down its fsync and rename calls in order (SyscallLog.c). Plain C without the
# sanitizers: it is loaded before them.
if(NOT TARGET kv_test_syscall_log)
  add_library(kv_test_syscall_log MODULE ${CMAKE_CURRENT_LIST_DIR}/SyscallLog.c)
  target_compile_options(kv_test_syscall_log PRIVATE -fno-sanitize=all)
  target_link_options(kv_test_syscall_log PRIVATE -fno-sanitize=all)
endif()
