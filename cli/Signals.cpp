#include "Signals.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace kvctl {

namespace {

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_last = 0;
bool g_pipeIgnored = false;

void OnSignal(int sig) {
    const int saved = errno;
    g_last = sig;
    const char b = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
    errno = saved;
}

// The descriptor moved to 3 or above (the standard streams' numbers are
// never the pipe's, also when the parent closed them).
int AboveStandard(int fd) {
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

bool Ignored(int sig) {
    struct sigaction old {};
    return ::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

} // namespace

bool TSignals::Install() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    g_pipe[0] = AboveStandard(p[0]);
    g_pipe[1] = AboveStandard(p[1]);
    if (g_pipe[0] < 0 || g_pipe[1] < 0)
        return false;
    ::fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        if (!Ignored(s))
            ::sigaction(s, &sa, nullptr);
    g_pipeIgnored = Ignored(SIGPIPE);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

int TSignals::ReadFd() { return g_pipe[0]; }

int TSignals::Take() {
    char b[16];
    while (::read(g_pipe[0], b, sizeof b) > 0) {
    }
    return g_last;
}

bool TSignals::PipeIgnoredAtStart() { return g_pipeIgnored; }

void TSignals::EndBySignal(int sig) {
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    std::_Exit(128 + sig);
}

} // namespace kvctl
