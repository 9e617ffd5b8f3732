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
    // Opens or creates the log. A log that ended in a torn row (a crash) is
    // given its line ending first, so the next row starts on a line of its
    // own. `error` says why when not Opened.
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
    // Empty, or why the last Append failed.
    const QString& Error() const { return error_; }

private:
    TCsvLog(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    QString path_;
    long long rows_ = 0;
    QString error_;
};

} // namespace kv
