#pragma once
// kvctl's contract with the scripts that run it, in one place: the exit
// codes, and the checked writes to the standard output and error. A write
// that fails (a full disk, a closed pipe, a closed descriptor) is never
// success: the command ends with exitOutput and says which output failed.
#include <QByteArray>
#include <QString>

#include "Files.h"

namespace kvctl {

// The whole-file writes and the CSV log live below kvctl (the certificates
// of the calibration station write through them too).
using kv::IsStandardOutput;
using kv::TCsvLog;
using kv::WriteAll;
using kv::WriteFileWhole;
using kv::WriteNewFile;

// Exit codes. Ended by a signal, kvctl ends by that same signal after its
// cleanup (the shell sees 128 + its number: 129 SIGHUP, 130 SIGINT, 141
// SIGPIPE, 143 SIGTERM).
enum TExit : int {
    exitOK = 0,
    exitDiffers = 1,   // the device answered, but the result differs or was refused
    exitUsage = 2,     // usage or file error
    exitNoAnswer = 3,  // no answer after the link's retries, or the port could not be opened
    exitOutput = 4,    // an output could not be written (stdout, stderr, -o, --csv, --trace, a backup)
    exitInterrupted = 130, // SIGINT, where no signal can end the process (in-process runs)
};

// Descriptors 0, 1 and 2 that the parent left closed are opened on
// /dev/null the wrong way round (stdin for writing, stdout and stderr for
// reading): nothing kvctl opens later (the port, a file, its signal pipe)
// can land there and receive what was meant for the standard streams, and
// a write to a closed stdout still fails as it should.
void ReserveStandardDescriptors();

// One output stream on a descriptor (or a capture in tests), its name for
// the message, and whether it failed.
class TStream {
public:
    TStream(int fd, QString name) : fd_(fd), name_(std::move(name)) {}
    // Writes the bytes; false once a write has failed (later writes are
    // dropped, so a failing stream is reported once).
    bool Write(const QByteArray& bytes);
    bool Failed() const { return err_ != 0; }
    int Error() const { return err_; }
    const QString& Name() const { return name_; }
    // "standard output: No space left on device"
    QString FailureText() const;

private:
    int fd_;
    QString name_;
    int err_ = 0;
};

} // namespace kvctl
