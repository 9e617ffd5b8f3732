#pragma once
// How kvctl takes signals. SIGINT, SIGTERM and SIGHUP are caught and handed
// to the event loop through a pipe, so that the command ends between two
// events with its files complete and forcing on the device undone; then
// kvctl ends by the same signal (EndBySignal), so that the shell sees
// 130/143/129 and a loop around kvctl stops. A signal the parent left
// ignored (a job started in the background, a service manager's choice)
// stays ignored.
//
// SIGPIPE is ignored while kvctl runs, so that a reader that went away shows
// as EPIPE on the write, which ends the command cleanly; kvctl then ends by
// SIGPIPE (141) unless its parent had ignored it, in which case the failed
// write ends it with exitOutput, as any failed write does.
namespace kvctl {

class TSignals {
public:
    // Installs the handlers and makes the pipe (its descriptors above 2 and
    // closed on exec). False when no pipe could be made.
    static bool Install();
    // The pipe's end that becomes readable at a signal; -1 before Install.
    static int ReadFd();
    // Empties the pipe; the last signal caught (0: none).
    static int Take();
    // Whether SIGPIPE was ignored when kvctl started.
    static bool PipeIgnoredAtStart();
    // Ends the process by sig: its default action restored and unblocked,
    // then raised. Falls back to exit(128 + sig) if the signal does not end it.
    [[noreturn]] static void EndBySignal(int sig);
};

} // namespace kvctl
