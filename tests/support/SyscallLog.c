/* A library for LD_PRELOAD that writes down, in order, the calls by which a
 * program makes a file durable and puts it under its name: fsync and
 * fdatasync (with the path of the descriptor), rename, renameat2 and link.
 * One line a call into the file named by KV_SYSCALL_LOG:
 *   fsync /dir/.out.kvs.kvtmp-AbC123
 *   rename /dir/.out.kvs.kvtmp-AbC123 /dir/out.kvs
 * A test reads the order from it: the data flushed before the name changes.
 * The calls themselves go straight to the kernel, unchanged. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

static void Note(const char* what, const char* a, const char* b) {
    const char* log = getenv("KV_SYSCALL_LOG");
    if (!log)
        return;
    char line[8400];
    const int n = snprintf(line, sizeof line, "%s %s%s%s\n", what, a, b ? " " : "", b ? b : "");
    if (n <= 0)
        return;
    const int fd = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    (void)syscall(SYS_write, fd, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
    syscall(SYS_close, fd);
}

static void NoteFd(const char* what, int fd) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const long n = syscall(SYS_readlinkat, AT_FDCWD, link, path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    Note(what, path, NULL);
}

int fsync(int fd) {
    NoteFd("fsync", fd);
    return (int)syscall(SYS_fsync, fd);
}

int fdatasync(int fd) {
    NoteFd("fdatasync", fd);
    return (int)syscall(SYS_fdatasync, fd);
}

int rename(const char* from, const char* to) {
    Note("rename", from, to);
    return (int)syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    Note("rename", from, to);
    return (int)syscall(SYS_renameat2, fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to) {
    Note("link", from, to);
    return (int)syscall(SYS_linkat, AT_FDCWD, from, AT_FDCWD, to, 0);
}
