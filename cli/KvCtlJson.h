#pragma once
// kvctl's JSON outputs, documented in one table that `kvctl help json`
// prints and the tests hold every command's output against. Every object
// names its schema ("kvctl.<command>/N"); fields are only added in later
// versions of a schema, never renamed or removed. The same thing has the same
// name everywhere (a settings record's fields, "time", "port", a difference's
// "field"). Times are ISO 8601 local time with the offset; numbers are JSON
// numbers whatever the locale, null where there is none; texts are the
// window's (with the locale's decimal separator).
#include <QJsonObject>
#include <QString>

#include <vector>

namespace kvctl {

struct TJsonField {
    // A dotted path: "device.type"; "[]" steps into an array's objects
    // ("differences[].field").
    const char* path;
    const char* about;
};

struct TJsonSchema {
    const char* name;    // "kvctl.status/1"
    const char* command; // the command line that prints it
    std::vector<TJsonField> fields;
};

const std::vector<TJsonSchema>& JsonSchemas();
// The help text of `kvctl help json`.
QString JsonHelp();
// Every object's ending: the exit code and the failure's message (null for
// none).
void SetExit(QJsonObject& o, int code, const QString& error = {});

} // namespace kvctl
