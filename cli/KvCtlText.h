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
// The shortest text that reads back as the same single ("149.96").
QString Single(float v);
// A single as a JSON number that reads back as the same single; null when
// it is no number.
QJsonValue SingleJson(float v);

// One field of a settings record: its value as the JSON of
// kvctl.settings.get/1 has it (4, -12.5, "high") and as text in kvctl's
// language ("4", "0 Hőmérséklet (Pt 100)", "-12.5").
struct TFieldValue {
    QJsonValue value;
    QString text;
};
struct TFieldDiff {
    QString field;
    TFieldValue left, right;
};
// The record's fields in their order, by their JSON names.
std::vector<std::pair<QString, TFieldValue>> RecordFields(const kv::SettingsRecord& r);
std::vector<TFieldDiff> DiffRecords(const kv::SettingsRecord& left, const kv::SettingsRecord& right);
QJsonObject RecordJson(const kv::SettingsRecord& r);
// {field, LEFT, LEFT_text, RIGHT, RIGHT_text} for each difference: the
// values with their JSON types, the texts beside them.
QJsonArray DiffJson(const std::vector<TFieldDiff>& diffs, const char* left, const char* right);
QString DiffText(const std::vector<TFieldDiff>& diffs, const QString& left, const QString& right);

} // namespace kvctl
