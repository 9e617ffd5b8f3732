#pragma once
// The files kvctl and the calibration station write. Every one is written whole or not at all: a
// settings file, a backup and an -o output go to a temporary file in the
// same folder, flushed to the disk and renamed (the INI file's writer, see
// IniFile.h), so a full disk or a crash never leaves a torn or empty file and
// an earlier file stays as it was. A backup's name is claimed only together
// with its whole text, so parallel runs never share one. The CSV log is
// never truncated: rows are added to a file whose header is the log's own,
// one whole row at a time.
#include <QByteArray>
#include <QString>

#include <memory>

namespace kv {

// Writes all of data to fd: through interrupted and short writes, waiting
// on a descriptor that a parent left non-blocking. False with err (an errno
// value) when the descriptor refuses; EPIPE for a reader that went away.
bool WriteAll(int fd, const char* data, qsizetype size, int& err);


// "-" for an output file means the standard output.
inline bool IsStandardOutput(const QString& path) { return path == QLatin1String("-"); }

// Replaces (or creates) the file with data. False with `error` set; the old
// file is then untouched.
bool WriteFileWhole(const QString& path, const QByteArray& data, QString* error);

// Writes data to what stands under the name when that is no regular file:
// a device (/dev/stdout, /dev/null) or a pipe with a reader, as one stream,
// without a temporary file. A pipe without a reader fails (ENXIO) instead of
// waiting for one. False with `error` set.
bool WriteToStream(const QString& path, const QByteArray& data, QString* error);

// How a file is to be written: whole (WriteFileWhole, a rename in its
// folder), added to (the CSV log), or as a stream (WriteToStream).
enum class TWriteWay { Whole, Append, Stream };
// Why a file of this name cannot be written that way now, with the name and
// the system's reason ("out/x.kvs: Read-only file system"); empty when
// nothing that can be seen before writing stands in the way. So a command
// finds a missing folder, a read-only file system or a file it may not
// change before it touches a device; a full disk shows only when written.
QString CannotWrite(const QString& path, TWriteWay way);

// Creates a new file with data under the first free one of stem + ".kvs",
// stem + "-1.kvs", stem + "-2.kvs", ...; never over a file that exists, also
// not one that a parallel run creates at the same moment. The name written,
// or empty with `error` set.
QString WriteNewFile(const QString& stem, const QByteArray& data, QString* error);

// A CSV log that rows are appended to.
class TCsvLog {
public:
    enum class TOpen {
        Opened,   // a new or empty file (header written), or one with this header
        Refused,  // a file with another first line, or no regular file: untouched
        Failed,   // the system refused (no such folder, no permission, disk full)
    };
    // Opens or creates the log. A log that ends in a row cut short (a crash
    // in the middle of a write) loses that part row, so that the rows added
    // stand whole and none is short (CutBytes says how many bytes went). A
    // log this call created and could not give its header is removed again.
    // `error` says why when not Opened.
    static TOpen Open(const QString& path, const QByteArray& header, std::unique_ptr<TCsvLog>& log, QString* error);
    // What Open would say about the file's header, without creating or
    // changing it (Opened for a file that does not exist yet). Whether
    // another program writes it is known only when it is opened.
    static TOpen Check(const QString& path, const QByteArray& header, QString* error);

    ~TCsvLog();
    TCsvLog(const TCsvLog&) = delete;
    TCsvLog& operator=(const TCsvLog&) = delete;

    // Adds one row (with its line ending): the whole row or, when the disk
    // refuses part of it, nothing (the torn part is cut off again). False
    // with Error() set; the log then takes no more rows.
    bool Append(const QByteArray& row);
    const QString& Path() const { return path_; }
    long long Rows() const { return rows_; }
    // The bytes of a cut-short last row that Open took out.
    long long CutBytes() const { return cut_; }
    // Empty, or why the last Append failed.
    const QString& Error() const { return error_; }

private:
    TCsvLog(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    bool CutTornRow();
    int fd_;
    QString path_;
    long long rows_ = 0;
    long long cut_ = 0;
    QString error_;
};

} // namespace kv
