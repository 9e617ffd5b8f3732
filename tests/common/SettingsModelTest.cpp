// The settings page's rules without widgets: record <-> page <-> .kvs file.
#include "NumberPicture.h"
#include "SettingsModel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <random>

namespace {

using kv::SettingsPage;

class SettingsFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("a.kvs"));
    void Put(const QByteArray& bytes) const {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray Get() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

const QDate kDay(2026, 12, 6);
const QLocale kHu(QLocale::Hungarian, QLocale::Hungary);

const char kSaved[] = "[Header]\n"
                      "KV=KV5510/KV7730\n"
                      "[Settings]\n"
                      "RadioGroup_Mode=0\n"
                      "RadioGroup_Wires=1\n"
                      "RadioGroup_TCType=3\n"
                      "RadioGroup_CJC=0\n"
                      "RadioGroup_RefreshTime=0\n"
                      "RadioGroup_OutputMode=0\n"
                      "RadioButton_ErrorLow=1\n"
                      "RadioButton_ErrorHigh=0\n"
                      "CheckBox_DisableErrorSignal=0\n"
                      "Edit_FizikaiForOutL=0\n"
                      "Edit_FizikaiForOutH=100\n"
                      "[Date]\n"
                      "Date=2026. 12. 06.\n";

} // namespace

TEST(SettingsModel, FileNamesAndDates) {
    EXPECT_EQ(kv::WithSettingsFileExtension("/x/a"), "/x/a.kvs");
    EXPECT_EQ(kv::WithSettingsFileExtension("/x.d/a"), "/x.d/a.kvs");
    EXPECT_EQ(kv::WithSettingsFileExtension("/x/.a"), "/x/.a.kvs");
    EXPECT_EQ(kv::WithSettingsFileExtension("/x/a.txt"), "/x/a.txt");
    EXPECT_EQ(kv::SettingsFileDate(kDay, kHu), "2026. 12. 06.");
    EXPECT_EQ(kv::SettingsFileDate(kDay, QLocale(QLocale::English, QLocale::UnitedStates)), "12/6/26");
    const QString other = kv::SettingsFileDate(kDay, QLocale(QLocale::Arabic, QLocale::Egypt));
    EXPECT_TRUE(std::all_of(other.begin(), other.end(), [](QChar c) { return c.unicode() < 0x80; })) << other.toStdString();
}

TEST_F(SettingsFileTest, SavedTextAndRoundTrip) {
    SettingsPage p;
    p.Wires = 1; // 3 wires are stored as their index
    ASSERT_TRUE(kv::SaveSettingsFile(path, p, kDay, nullptr, kHu));
    EXPECT_EQ(Get(), kSaved);

    p.FizikaiForOutL = QString::fromUtf8("12,5 ő°C");
    p.FizikaiForOutH = QString::fromUtf8("Ű€");
    ASSERT_TRUE(kv::SaveSettingsFile(path, p, kDay));
    EXPECT_EQ(kv::LoadSettingsFile(path, '.').page, p);
    // Beyond ASCII the texts are Windows-1250 bytes.
    EXPECT_TRUE(Get().contains("Edit_FizikaiForOutL=12,5 \xF5\xB0" "C\nEdit_FizikaiForOutH=\xDB\x80\n"));
}

TEST_F(SettingsFileTest, SaveKeepsWhatItDoesNotWrite) {
    Put("; kept\r\n[Other]\r\nx=1\r\n[Settings]\r\nRadioGroup_Mode=5\r\nOwn=2\r\n");
    ASSERT_TRUE(kv::SaveSettingsFile(path, SettingsPage{}, kDay));
    const QByteArray text = Get();
    EXPECT_TRUE(text.startsWith("; kept\r\n[Other]\r\nx=1\r\n[Settings]\r\nRadioGroup_Mode=0\r\nOwn=2\r\n"));
    EXPECT_TRUE(text.contains("[Header]\r\nKV=KV5510/KV7730\r\n"));
}

TEST_F(SettingsFileTest, FailedSaveLeavesTheFileWhole) {
    // A full disk, by a file-size limit below what the update needs.
    Put(QByteArray(3000, '#') + "\n[Settings]\nRadioGroup_Mode=5\n");
    const QByteArray before = Get();
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 2048;
    setrlimit(RLIMIT_FSIZE, &small);
    QString error;
    const bool saved = kv::SaveSettingsFile(path, SettingsPage{}, kDay, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(error.startsWith("could not write the file")) << error.toStdString();
    EXPECT_EQ(Get(), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left

    EXPECT_FALSE(kv::SaveSettingsFile(dir.filePath("no/such/folder.kvs"), SettingsPage{}, kDay));
    EXPECT_FALSE(kv::SaveSettingsFile(dir.path(), SettingsPage{}, kDay));
}

TEST_F(SettingsFileTest, ReadingRules) {
    struct Row {
        const char* name;
        QByteArray settings; // the [Settings] section's lines
        std::function<void(const SettingsPage&)> check;
        int problems;
    };
    const Row rows[] = {
        {"nothing but the header", "", [](const SettingsPage& p) { EXPECT_EQ(p.FizikaiForOutL, ""); }, 13},
        {"12 selects the last mode, hex and signs", "RadioGroup_Mode=12\nRadioGroup_TCType=0X9\nRadioGroup_CJC=+2\n"
                                                    "RadioGroup_OutputMode=-3\nRadioGroup_Wires=x\n",
         [](const SettingsPage& p) {
             EXPECT_EQ(p.Mode, 7);
             EXPECT_EQ(p.TCType, 9);
             EXPECT_EQ(p.CJC, 2);
             EXPECT_EQ(p.OutputMode, -1);
             EXPECT_EQ(p.Wires, -1);
         },
         11},
        {"no Pascal hexadecimal", "RadioGroup_Mode=$3\nRadioGroup_CJC=$0\nRadioGroup_TCType=0x3\n",
         [](const SettingsPage& p) {
             EXPECT_EQ(p.Mode, -1);
             EXPECT_EQ(p.CJC, -1);
             EXPECT_EQ(p.TCType, 3);
         },
         12},
        {"texts in Windows-1250", "Edit_FizikaiForOutL=\xF5\xB0\nEdit_FizikaiForOutH=\xC5\x91\n",
         [](const SettingsPage& p) {
             EXPECT_EQ(p.FizikaiForOutL, QString::fromUtf8("ő°"));
             EXPECT_EQ(p.FizikaiForOutH, QString::fromUtf8("Ĺ‘"));
         },
         11},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Put("[Header]\nKV=KV5510/KV7730\n[settings]\n" + r.settings);
        const kv::SettingsFileLoad load = kv::LoadSettingsFile(path, '.');
        ASSERT_EQ(load.status, kv::SettingsFileLoad::Loaded);
        r.check(load.page);
        EXPECT_EQ(load.problems.size(), r.problems) << load.problems.join("; ").toStdString();
    }
}

TEST_F(SettingsFileTest, FromTheOtherSystem) {
    QByteArray text = QByteArray(kSaved).replace("\n", "\r\n").replace("RadioGroup_Mode=0", "  radiogroup_mode =  3 ");
    Put("\xEF\xBB\xBF" + text.replace("KV=KV5510/KV7730", "KV = KV5510/KV7730 "));
    const kv::SettingsFileLoad load = kv::LoadSettingsFile(path, '.');
    ASSERT_EQ(load.status, kv::SettingsFileLoad::Loaded) << load.reason.toStdString();
    EXPECT_EQ(load.page.Mode, 3);
    EXPECT_EQ(load.page.Wires, 1);
    EXPECT_EQ(load.page.FizikaiForOutH, "100");
    EXPECT_TRUE(load.problems.isEmpty());

    // A file with the mark holds UTF-8, also what is saved into it.
    SettingsPage p;
    p.FizikaiForOutL = QString::fromUtf8("ő°");
    ASSERT_TRUE(kv::SaveSettingsFile(path, p, kDay));
    EXPECT_TRUE(Get().contains("Edit_FizikaiForOutL=\xC5\x91\xC2\xB0\r\n"));
    EXPECT_EQ(kv::LoadSettingsFile(path, '.').page.FizikaiForOutL, p.FizikaiForOutL);
}

TEST_F(SettingsFileTest, NotASettingsFile) {
    struct Row {
        const char* name;
        std::function<QString()> make; // the path to load
        const char* reason;
    };
    const Row rows[] = {
        {"missing", [&] { return dir.filePath("none.kvs"); }, "no such file"},
        {"folder", [&] { return dir.path(); }, "a folder"},
        {"FIFO",
         [&] {
             const QString fifo = dir.filePath("fifo.kvs");
             mkfifo(QFile::encodeName(fifo).constData(), 0600);
             return fifo;
         },
         "not a regular file"},
        {"100 MB",
         [&] {
             Put(kSaved);
             QFile(path).resize(100 << 20);
             return path;
         },
         "larger than 1048576 bytes"},
        {"binary",
         [&] {
             static const char elf[] = "\x7F" "ELF\0\x01\x02[Header]\0KV=KV5510/KV7730";
             Put(QByteArray(elf, sizeof elf - 1));
             return path;
         },
         "no KV key in section [Header]"},
        {"header case",
         [&] {
             Put(QByteArray(kSaved).replace("KV5510/KV7730", "kv5510/kv7730"));
             return path;
         },
         "header \"kv5510/kv7730\" is not \"KV5510/KV7730\""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const kv::SettingsFileLoad load = kv::LoadSettingsFile(r.make(), '.');
        EXPECT_EQ(load.status, kv::SettingsFileLoad::NotSettingsFile);
        EXPECT_EQ(load.reason.toStdString(), r.reason);
    }
}

// Either separator on loading, for a reader that takes files from machines
// of both kinds; the page then holds the reader's own separator.
TEST_F(SettingsFileTest, EitherDecimalSeparator) {
    const struct {
        const char* text;
        char sep;
        const char* page; // with Either
        bool problem;     // with the locale's only
    } rows[] = {
        {"100,5", '.', "100.5", true},  {"100.5", ',', "100,5", true}, {"100.5", '.', "100.5", false},
        {"-1,5e3", '.', "-1.5e3", true}, {"1,000.5", '.', "1,000.5", true}, {"1.5.5", ',', "1.5.5", true},
        {"100", ',', "100", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        Put(QByteArray(kSaved).replace("Edit_FizikaiForOutH=100", QByteArray("Edit_FizikaiForOutH=") + r.text));
        const kv::SettingsFileLoad either = kv::LoadSettingsFile(path, r.sep, kv::FileSeparators::Either);
        EXPECT_EQ(either.page.FizikaiForOutH, QString::fromLatin1(r.page));
        const bool parses = !QString::fromLatin1(r.page).contains(r.sep == '.' ? ',' : '.') &&
                            QString::fromLatin1(r.page).count(QLatin1Char(r.sep)) <= 1;
        EXPECT_EQ(either.problems.isEmpty(), parses) << either.problems.join("; ").toStdString();
        EXPECT_EQ(!kv::LoadSettingsFile(path, r.sep).problems.isEmpty(), r.problem);
    }
}

// A fresh file's whole text is what SaveSettingsFile writes into an empty file.
TEST_F(SettingsFileTest, FreshTextIsTheSavedFile) {
    SettingsPage p;
    p.Wires = 1;
    ASSERT_TRUE(kv::SaveSettingsFile(path, p, kDay, nullptr, kHu));
    EXPECT_EQ(QByteArray::fromStdString(kv::SettingsFileText(p, kDay, kHu)), Get());
    EXPECT_EQ(Get(), QByteArray(kSaved));
}

// A text in the file ends at its first control character, and a save stores
// it so: a page that came from such a file, or holds one, saves whole.
TEST_F(SettingsFileTest, ScalingTextsEndAtTheirFirstControlCharacter) {
    const struct {
        QByteArray stored, kept;
    } rows[] = {
        {QByteArray("1\0 2", 4), "1"}, {"12\x7f" "5", "12"}, {"\x01" "5", "5"}, // blanks around go first
        {"-1\x1b[0m", "-1"}, {"\xF5\x81" "x", "\xF5\x81" "x"}, // an undefined Windows-1250 byte is no control
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.stored.toHex().toStdString());
        Put(QByteArray(kSaved).replace("Edit_FizikaiForOutL=0", "Edit_FizikaiForOutL=" + r.stored));
        SettingsPage p = kv::LoadSettingsFile(path, '.').page;
        EXPECT_EQ(p.FizikaiForOutL, kv::DecodeSettingsText(r.kept.toStdString(), false));
        p.FizikaiForOutH = QStringLiteral("7\n[Header]");
        ASSERT_TRUE(kv::SaveSettingsFile(path, p, kDay, nullptr, kHu));
        EXPECT_EQ(Get(), QByteArray(kSaved).replace("L=0", "L=" + r.kept).replace("H=100", "H=7"));
    }
}

// Whatever the program saves it loads, up to the one limit of 1 MiB.
TEST_F(SettingsFileTest, WhatIsSavedLoadsUpToOneLimit) {
    Put(QByteArray(70000, ';') + "\n" + kSaved); // a long comment
    EXPECT_EQ(kv::LoadSettingsFile(path, '.').status, kv::SettingsFileLoad::Loaded);
    // The longest texts an edit holds, in either kind of file.
    for (const QByteArray& start : {QByteArray(), QByteArray("\xEF\xBB\xBF")}) {
        Put(start);
        SettingsPage p;
        p.FizikaiForOutL = QString(32767, QChar(0x151)); // ő
        ASSERT_TRUE(kv::SaveSettingsFile(path, p, kDay));
        EXPECT_EQ(kv::LoadSettingsFile(path, '.').page, p);
    }
    // A save that would pass the limit is refused and leaves the file.
    const QByteArray nearly = kSaved + QByteArray(int(kv::kMaxSettingsFileSize) - int(sizeof kSaved) - 20, ';');
    Put(nearly);
    SettingsPage p;
    p.FizikaiForOutL = QString(100, QLatin1Char('1'));
    EXPECT_FALSE(kv::SaveSettingsFile(path, p, kDay, nullptr, kHu));
    EXPECT_EQ(Get(), nearly);
}

// ---- exact values, for files that are to give a device its settings back --

namespace {

std::uint32_t Bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

} // namespace

// The shortest text of a single reads back as the very same single, with
// either separator: a backup restores the device's bits, not a rounding.
TEST(SettingsModel, ExactScalingTextsReadBackBitForBit) {
    std::vector<float> values = {-12.345f, 149.96f, 250.25f, 0.1f, -0.0f, 1e-45f, 1.17549435e-38f, FLT_MAX, -FLT_MAX,
                                 16777216.0f, 3.4028233e38f, 123456.79f, 1e-10f};
    std::mt19937 rng(5510);
    while (values.size() < 200000) {
        const std::uint32_t u = static_cast<std::uint32_t>(rng());
        float f;
        std::memcpy(&f, &u, sizeof f);
        if (std::isfinite(f))
            values.push_back(f);
    }
    for (const char sep : {'.', ','}) {
        std::size_t wrong = 0;
        for (const float f : values) {
            const QString text = kv::ExactScalingText(f, sep);
            const float back = kv::ScalingValue(text, 99.0, sep);
            if (Bits(back) != Bits(f) && ++wrong <= 5)
                ADD_FAILURE() << text.toStdString() << " read back as " << kv::SingleText(back) << " (0x" << std::hex
                              << Bits(f) << " -> 0x" << Bits(back) << ")";
        }
        EXPECT_EQ(wrong, 0u) << "with " << sep;
    }
    EXPECT_EQ(kv::ExactScalingText(-12.345f, ','), "-12,345");
    EXPECT_EQ(kv::ExactScalingText(149.96f, '.'), "149.96");
    // The display picture of the mode rounds them; the exact page does not.
    kv::SettingsRecord r;
    r.Mode = 2;
    r.FizikaiForOutL = -12.345f;
    r.FizikaiForOutH = 250.25f;
    kv::DisplayFormats formats;
    EXPECT_EQ(kv::PageFromRecord(r, formats, '.').FizikaiForOutH, "250.2");
    const SettingsPage exact = kv::ExactPageFromRecord(r, '.');
    EXPECT_EQ(exact.FizikaiForOutL, "-12.345");
    EXPECT_EQ(exact.FizikaiForOutH, "250.25");
    EXPECT_EQ(kv::RecordFromPage(exact, '.').Encode(), r.Encode());
    // And through a file's text.
    const kv::SettingsFileLoad load =
        kv::LoadSettings(kv::IniSnapshot::FromText(kv::SettingsFileText(exact, kDay)), '.', kv::FileSeparators::Either);
    EXPECT_TRUE(load.problems.isEmpty()) << load.problems.join("; ").toStdString();
    EXPECT_EQ(kv::RecordFromPage(load.page, '.').Encode(), r.Encode());
}

// Bit 6 of the error flags is the high level, bit 7 the disabled signal:
// each alone, so that a flag read from the other bit shows.
TEST(SettingsModel, ErrorFlagsAreTwoBitsOfTheirOwn) {
    const struct {
        std::uint8_t flags;
        bool high, disabled;
    } rows[] = {{0x00, false, false}, {0x40, true, false}, {0x80, false, true}, {0xC0, true, true}, {0x3F, false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.flags));
        kv::SettingsRecord r;
        r.ErrorSignalFlags = row.flags;
        kv::DisplayFormats formats;
        const SettingsPage p = kv::PageFromRecord(r, formats);
        EXPECT_EQ(p.ErrorHigh, row.high);
        EXPECT_EQ(p.ErrorLow, !row.high);
        EXPECT_EQ(p.DisableErrorSignal, row.disabled);
        EXPECT_EQ(kv::RecordFromPage(p).ErrorSignalFlags, row.flags & 0xC0);
    }
}

// What kvctl refuses: a file that says two things, or asks for what the
// device would get otherwise (-1 as the first item, an index at the item
// count as the last, 1e39 as the largest single).
TEST_F(SettingsFileTest, AmbiguousOrOutOfRangeFilesHaveProblems) {
    const QByteArray good(kSaved);
    const auto with = [&](const char* from, const char* to) { return QByteArray(good).replace(from, to); };
    const struct {
        const char* name;
        QByteArray text;
        const char* problem; // nullptr: none
    } rows[] = {
        {"as saved", good, nullptr},
        {"two files run together", good + good, "section [Header] stands 2 times"},
        {"[Settings] twice", good + "[Settings]\nRadioGroup_OutputMode=2\n", "section [Settings] stands 2 times"},
        {"a key twice", with("RadioGroup_Mode=0\n", "RadioGroup_Mode=0\nradiogroup_mode = 2\n"),
         "RadioGroup_Mode is given 2 times"},
        {"a scaling text twice", with("Edit_FizikaiForOutH=100\n", "Edit_FizikaiForOutH=100\nEdit_FizikaiForOutH=150\n"),
         "Edit_FizikaiForOutH is given 2 times"},
        {"the header twice", with("KV=KV5510/KV7730\n", "KV=KV5510/KV7730\nKV=KV5510/KV7730\n"), "KV is given 2 times"},
        {"1e39", with("Edit_FizikaiForOutH=100", "Edit_FizikaiForOutH=1e39"), "Edit_FizikaiForOutH \"1e39\" is beyond what the device holds"},
        {"-1e39", with("Edit_FizikaiForOutL=0", "Edit_FizikaiForOutL=-1e39"), "Edit_FizikaiForOutL \"-1e39\" is beyond"},
        {"the largest single", with("Edit_FizikaiForOutH=100", "Edit_FizikaiForOutH=3.4028235e38"), nullptr},
        {"below the smallest single", with("Edit_FizikaiForOutH=100", "Edit_FizikaiForOutH=1e-60"), nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const kv::SettingsFileLoad load = kv::LoadSettings(kv::IniSnapshot::FromText(row.text.toStdString()), '.');
        ASSERT_EQ(load.status, kv::SettingsFileLoad::Loaded);
        if (!row.problem) {
            EXPECT_TRUE(load.problems.isEmpty()) << load.problems.join("; ").toStdString();
            continue;
        }
        EXPECT_TRUE(load.problems.join("; ").contains(QString::fromLatin1(row.problem)))
            << load.problems.join("; ").toStdString();
    }
    // Each radio group: its last item is fine; -1 (no selection, sent as the
    // first item) and the item count (selected as the last) are out of range.
    const struct {
        const char* key;
        const char* saved;
        int count;
    } groups[] = {{"RadioGroup_Mode", "0", 8},         {"RadioGroup_Wires", "1", 3},
                  {"RadioGroup_TCType", "3", 10},      {"RadioGroup_CJC", "0", 4},
                  {"RadioGroup_RefreshTime", "0", 8},  {"RadioGroup_OutputMode", "0", 5}};
    for (const auto& g : groups)
        for (const int v : {g.count - 1, -1, g.count}) {
            SCOPED_TRACE(std::string(g.key) + "=" + std::to_string(v));
            const QByteArray text = QByteArray(good).replace(QByteArray(g.key) + '=' + g.saved, QByteArray(g.key) + '=' + QByteArray::number(v));
            const QStringList problems = kv::LoadSettings(kv::IniSnapshot::FromText(text.toStdString()), '.').problems;
            if (v == g.count - 1)
                EXPECT_TRUE(problems.isEmpty()) << problems.join("; ").toStdString();
            else
                EXPECT_EQ(problems, QStringList{QStringLiteral("%1 %2 is out of range 0-%3").arg(QLatin1String(g.key)).arg(v).arg(g.count - 1)});
        }
}
