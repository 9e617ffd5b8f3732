#pragma once
// kvctl's own wording of the settings record: the items as the settings
// page captions them, values as text and JSON, and field-by-field
// differences between two records. Used by status and the settings commands.
#include "DeviceRecords.h"
#include "StatusTexts.h" // TTextLanguage

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <string>
#include <vector>

namespace kvctl {

// The settings page's item captions, marked in the page's own context
// (TabSheet_Settings, as Settings.ui), so that kvctl and the window
// translate them alike.
extern const char* const kModeCaptions[8];
extern const char* const kCJCCaptions[4];
// An item caption in kvctl's language.
QString Caption(const char* item);

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
// A real as JSON: null when it is no number.
QJsonValue Number(double v);
// "2 Hőmérséklet  (Hőelem)" (the caption in kvctl's language), "12 (?)"
// outside the items.
QString Item(const char* const* items, std::size_t count, int index,
             kv::TTextLanguage language = kv::TTextLanguage::Program);
// The shortest text that reads back as the same single.
QString Single(float v);

// A field that differs: as text in kvctl's language, and as the JSON keeps
// it (the captions in their own language, whatever kvctl speaks).
struct TFieldDiff {
    QString field, left, right;
    QString leftSource, rightSource;
};
std::vector<TFieldDiff> DiffRecords(const kv::SettingsRecord& left, const kv::SettingsRecord& right);
QJsonObject RecordJson(const kv::SettingsRecord& r);
QJsonArray DiffJson(const std::vector<TFieldDiff>& diffs, const char* left, const char* right);
QString DiffText(const std::vector<TFieldDiff>& diffs, const QString& left, const QString& right);

} // namespace kvctl
