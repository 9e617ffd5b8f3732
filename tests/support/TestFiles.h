#pragma once
// Whole files for tests: read one (empty when it cannot be read) and write
// one (a failure is the test's).
#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

namespace kvtest {

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

} // namespace kvtest
