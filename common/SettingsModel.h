#pragma once
// The settings page's rules without widgets, shared by the window and kvctl.
//
// The page and a .kvs file hold the same thing, the state of the page's
// controls (SettingsPage); the device holds a SettingsRecord. Three ways lead
// between them:
//
//   device record  -> page   PageFromRecord   (what a read shows)
//   page           -> record RecordFromPage   (what a write sends)
//   page          <-> .kvs   SaveSettingsFile / LoadSettingsFile
//
// So "settings get -o F.kvs" is PageFromRecord then SaveSettingsFile, and
// "settings set F.kvs" is LoadSettingsFile then RecordFromPage. Scaling
// texts are parsed and formatted with the locale's decimal separator (`sep`,
// by default kv::DecimalSeparator()), as the user typed or sees them.
#include "DeviceRecords.h"
#include "IniFile.h"
#include "NumberPicture.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Item counts of the page's radio groups.
inline constexpr int kModeItems = 8;        // RadioGroup_Mode
inline constexpr int kWiresItems = 3;       // RadioGroup_Wires: "2", "3", "4"
inline constexpr int kTCTypeItems = 10;     // RadioGroup_TCType: B E J K L N R S T U
inline constexpr int kCJCItems = 4;         // RadioGroup_CJC
inline constexpr int kRefreshTimeItems = 8; // RadioGroup_RefreshTime (file only)
inline constexpr int kOutputModeItems = 5;  // RadioGroup_OutputMode

// The radio groups' selection rule: a value at or above `count` selects the
// last item, a negative value selects none (-1).
int SelectItem(int value, int count);

// What the settings page holds, as a .kvs file keeps it. Radio groups are
// item indices, -1 for no selection; the defaults are the page's start state.
struct SettingsPage {
    int Mode = 0;
    int Wires = 2; // the item index: 0, 1, 2 for 2, 3, 4 wires
    int TCType = 3;
    int CJC = 0;
    int RefreshTime = 0; // never sent to the device
    int OutputMode = 0;
    bool ErrorLow = true;
    bool ErrorHigh = false;
    bool DisableErrorSignal = false;
    QString FizikaiForOutL = QStringLiteral("0");
    QString FizikaiForOutH = QStringLiteral("100");
    bool operator==(const SettingsPage&) const = default;
};

// --- Page -> record (what a write sends).

// A scaling text as a single: `fallback` when it does not parse, values
// beyond a single's range held at its largest finite value.
float ScalingValue(const QString& text, double fallback, char sep = DecimalSeparator());
// Groups without a selection give mode 0, 4 wires, type K, CJC 0, output 0;
// an unparsable scaling text 0.0 (low) or 100.0 (high); whatever is not
// ErrorHigh counts as low.
SettingsRecord RecordFromPage(const SettingsPage& page, char sep = DecimalSeparator());

// --- Record -> page (what a read shows).

// Number pictures and units of the values the device measures.
struct DisplayFormats {
    QString SzamitottErtekFormat = QStringLiteral("0.0");
    QString SzamitottErtekUnit = QStringLiteral("°C");
    QString FizikaiErtekFormat = QStringLiteral("0.00");
    QString FizikaiErtekUnit = QStringLiteral("ohm");
    bool operator==(const DisplayFormats&) const = default;
};
// The formats of input mode 0-7; none for other values.
std::optional<DisplayFormats> FormatsForMode(int mode);

// Captions that follow the output type: the ends of the range and the two
// error levels.
struct OutputCaptions {
    QString OutL, OutH, ErrorLow, ErrorHigh;
};
// The captions of output type 0-4; none for other values.
std::optional<OutputCaptions> CaptionsForOutput(int outputMode);

// The page that shows a device's record. `formats` are the formats in use;
// they become the record's mode's when it has some (modes 0-7) and format
// the scaling texts. Out-of-range bytes follow the selection rule (wires
// 0 or 1: no selection). RefreshTime is not in the record: it stays 0.
SettingsPage PageFromRecord(const SettingsRecord& record, DisplayFormats& formats,
                            char sep = DecimalSeparator());

// A scaling value as the shortest text that reads back as the same single
// ("-12.345", "149.96", "250.25"), with `sep`: what a file must hold to give
// the device its value back bit for bit. The display picture of the mode
// rounds it ("-12.3", "150.0").
QString ExactScalingText(float value, char sep = DecimalSeparator());
// The page that holds a device's record exactly, for files that are to
// restore it (kvctl's backups and settings get): PageFromRecord's selections,
// the scaling values as ExactScalingText. The window's page keeps the
// display pictures.
SettingsPage ExactPageFromRecord(const SettingsRecord& record, char sep = DecimalSeparator());

// --- The .kvs file.

inline constexpr char kSettingsFileHeader[] = "KV5510/KV7730";
inline constexpr char kSettingsFileExtension[] = "kvs";
// What the program writes it reads: one limit for both.
inline constexpr std::size_t kMaxSettingsFileSize = IniFile::kMaxFileSize;

// `name` with ".kvs" added when its file name has no extension.
QString WithSettingsFileExtension(const QString& name);

// The Date value: the date in the locale's short format, kept ASCII (an
// ISO date where the locale's format would need more).
QString SettingsFileDate(const QDate& date, const QLocale& locale = QLocale::system());

// Writes the thirteen keys in order ([Header] KV, [Settings] the page's
// eleven controls, [Date] Date) into the file, creating it or updating it,
// so sections and keys it does not write stay. All keys go to the file in
// one write: false with `error` set leaves the file as it was. A scaling
// text is stored up to its first control character, as it is read.
bool SaveSettingsFile(const QString& path, const SettingsPage& page, const QDate& date,
                      QString* error = nullptr, const QLocale& locale = QLocale::system());

// The same thirteen keys as a fresh file's whole text (Windows-1250 texts,
// the file's own line ending "\n"), for a writer that replaces a file whole
// instead of updating it key by key.
std::string SettingsFileText(const SettingsPage& page, const QDate& date, const QLocale& locale = QLocale::system());

// Which decimal separator a scaling text in a file may have. Locale: the
// machine's, as the window reads. Either: a full stop or a comma (a file from
// a machine with the other one), turned into `sep` on loading; there is no
// thousands separator, so one of them in a text is always the decimal one.
enum class FileSeparators { Locale, Either };
// `text` with its one full stop or comma as `sep`; unchanged when it holds
// `sep` already, or neither, or more than one.
QString WithDecimalSeparator(const QString& text, char sep);

struct SettingsFileLoad {
    enum Status {
        Loaded,
        NotSettingsFile, // unreadable, not a regular file, too large, or the header differs
    };
    Status status = NotSettingsFile;
    QString reason; // NotSettingsFile: why, for a person
    // Loaded: what the page holds after loading the file (selection rule and
    // the error buttons' exclusivity applied).
    SettingsPage page;
    // Loaded: what a careful caller may refuse: keys missing or not integers,
    // values out of range, scaling texts that do not parse with `sep`.
    QStringList problems;
};
// Reads the file with one bounded, non-blocking read. Integers are decimal
// with a sign or "0x" hexadecimal; a missing or non-integer key reads as -1
// (no selection, unchecked); a missing text as empty, and a text up to its
// first control character (bytes 0x00-0x1F and 0x7F).
SettingsFileLoad LoadSettingsFile(const QString& path, char sep = DecimalSeparator(),
                                  FileSeparators separators = FileSeparators::Locale);
// The same on a file already read.
SettingsFileLoad LoadSettings(const IniSnapshot& ini, char sep = DecimalSeparator(),
                              FileSeparators separators = FileSeparators::Locale);

// Scaling texts in the file. A file that begins with a UTF-8 byte order mark
// holds UTF-8; any other holds Windows-1250, the code page of the machines
// the files come from ("?" for characters it lacks). Saving into an existing
// file keeps its kind, so what is saved always reads back the same.
std::string EncodeSettingsText(const QString& text, bool utf8);
QString DecodeSettingsText(std::string_view bytes, bool utf8);

} // namespace kv
