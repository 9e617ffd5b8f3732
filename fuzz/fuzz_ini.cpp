// Fuzz target: the INI reader and writer, and the settings file on top.
//
// Input: byte 0 picks the section (bits 0-2) and key (bits 3-5) to write;
// byte 1 picks the value: the last (byte 1 mod 32) bytes of the text. The
// rest is the file's text, read as it stands. The write is made on the text
// in memory; on one input in thirty-two also through a real file, which must
// come out as the text edit did, and then a settings page (bytes 2 to 7) is
// saved into the file and loaded back (fourteen atomic replaces, the cost of
// hundreds of in-memory inputs).
//
// What must hold, whatever the text: a file reads as its text does; a write
// of a storable value succeeds and reads back (blanks around it dropped);
// every other key of the name table reads as before; the file write and the
// text edit agree; a saved page loads back as it was saved.
//
// With KV_FUZZ this is a libFuzzer target; otherwise a replay program that
// runs the seed corpus (KV_INI_CORPUS) and inputs made from it, and is
// registered as a test. Files go to /dev/shm where it exists (the atomic
// replace syncs every write; on tmpfs that costs nothing).
#include "IniFile.h"
#include "SettingsModel.h"

#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz_ini: invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

const char* const kSections[8] = {"Settings", "settings", "Header", "Date", "New", " a b ", "[x", "x]"};
const char* const kKeys[8] = {"RadioGroup_Mode", "radiogroup_mode", "KV", "Date", "k", " k2 ", "=x", "[k"};
const char* const kTexts[8] = {"0", "100", "12,5", "-1.5e3", "abc", "", "\xC5\x91\xC2\xB0\x43", "\xC5\xB0\xE2\x82\xAC"};

bool Blank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && Blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && Blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// What IniFile promises to store.
bool Storable(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    value = Trim(value);
    if (section.empty() || key.empty() || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' || key.front() == '#')
        return false;
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

const std::string& FilePath() {
    static const std::string path = [] {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        std::string dir = std::string(base) + "/fuzz_ini_XXXXXX";
        if (!::mkdtemp(dir.data()))
            Fail("no temporary folder");
        static const std::string keep = dir;
        std::atexit([] {
            ::unlink((keep + "/f.kvs").c_str());
            ::rmdir(keep.c_str());
        });
        return dir + "/f.kvs";
    }();
    return path;
}

void Put(const std::string& path, std::string_view text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        Fail("cannot write the input file");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// The replay takes every input through the file too.
bool gEveryInputOnDisk = false;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
    const char* section = kSections[data[0] & 7];
    const char* key = kKeys[(data[0] >> 3) & 7];
    const std::string value(text.substr(text.size() - std::min<std::size_t>(text.size(), data[1] % 32)));
    // One input in 32, by a hash of all its bytes: a bit pattern would be
    // kept by most mutations of an input that went to disk, and such
    // inputs, rich in coverage, would soon be most of what is run.
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    const bool onDisk = gEveryInputOnDisk || hash >> 27 == 0;

    // The edit on the text; on disk also the same edit through the file,
    // which must leave exactly that text.
    const kv::IniSnapshot before = kv::IniSnapshot::FromText(text);
    std::string edited;
    const bool written = kv::IniFile::EditText(text, section, key, value, edited);
    if (written != Storable(section, key, value))
        Fail(written ? "stored what cannot be stored" : "refused a storable value", value);
    const kv::IniSnapshot after = written ? kv::IniSnapshot::FromText(edited) : before;
    if (onDisk) {
        const std::string& path = FilePath();
        Put(path, text);
        const kv::IniSnapshot read = kv::IniSnapshot::Read(path);
        if (!read.Ok())
            Fail("a small regular file not read:", read.Error());
        std::string v0, v1;
        for (const char* s : kSections)
            for (const char* k : kKeys)
                if (read.Find(s, k, v0) != before.Find(s, k, v1) || v0 != v1)
                    Fail("a file and its text read differently");
        kv::IniFile ini(path);
        if (ini.WriteString(section, key, value) != written)
            Fail("the file and the text edit disagree on a write");
        QFile f(QString::fromStdString(path));
        if (written && (!f.open(QIODevice::ReadOnly) || f.readAll().toStdString() != edited))
            Fail("the file write left another text than the text edit");
        (void)kv::LoadSettingsFile(QString::fromStdString(path), '.');
    }
    for (const char* s : kSections)
        for (const char* k : kKeys) {
            std::string v0, v1;
            const bool had = before.Find(s, k, v0), has = after.Find(s, k, v1);
            if (written && SameName(s, section) && SameName(k, key)) {
                if (!has || v1 != Trim(value))
                    Fail("the written value does not read back", s + std::string("/") + k);
            } else if (had != has || v0 != v1) {
                Fail("a key the write did not name changed", s + std::string("/") + k);
            }
        }
    (void)kv::LoadSettings(after, '.');

    if (onDisk && size >= 8) {
        const std::string& path = FilePath();
        kv::SettingsPage page;
        page.Mode = static_cast<int>(data[2] % 9) - 1;
        page.Wires = static_cast<int>(data[3] % 4) - 1;
        page.TCType = static_cast<int>(data[4] % 11) - 1;
        page.OutputMode = static_cast<int>(data[5] % 6) - 1;
        page.ErrorHigh = data[6] & 1;
        page.ErrorLow = (data[6] & 2) && !page.ErrorHigh;
        page.DisableErrorSignal = data[6] & 4;
        page.FizikaiForOutL = QString::fromUtf8(kTexts[data[7] & 7]);
        page.FizikaiForOutH = QString::fromUtf8(kTexts[(data[7] >> 3) & 7]);
        const QString name = QString::fromStdString(path);
        if (!kv::SaveSettingsFile(name, page, QDate(2026, 12, 7)))
            Fail("a page could not be saved");
        const kv::SettingsFileLoad load = kv::LoadSettingsFile(name, '.');
        if (load.status != kv::SettingsFileLoad::Loaded)
            Fail("a saved page is not a settings file:", load.reason.toStdString());
        if (!(load.page == page)) {
            const auto show = [](const kv::SettingsPage& p) {
                return QStringLiteral("%1 %2 %3 %4 %5 %6 %7%8%9 [%10] [%11]")
                    .arg(p.Mode).arg(p.Wires).arg(p.TCType).arg(p.CJC).arg(p.RefreshTime).arg(p.OutputMode)
                    .arg(p.ErrorLow).arg(p.ErrorHigh).arg(p.DisableErrorSignal).arg(p.FizikaiForOutL, p.FizikaiForOutH)
                    .toStdString();
            };
            Fail("a saved page loads back different:", show(page) + " / " + show(load.page));
        }
    }
    return 0;
}

#ifndef KV_FUZZ_LIBFUZZER

#include <QDir>

#include <random>
#include <vector>

int main() {
    const QDir dir(QStringLiteral(KV_INI_CORPUS));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "fuzz_ini_replay: no seeds in %s\n", KV_INI_CORPUS);
        return 1;
    }
    std::mt19937 rng(5510);
    gEveryInputOnDisk = true;
    long runs = 0;
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray seed = f.readAll();
        // Every section and key, each with a page saved on top; then
        // a few bytes overwritten with line breaks, brackets and blanks.
        for (int choice = 0; choice < 256; choice += 9) {
            std::vector<std::uint8_t> in(seed.begin(), seed.end());
            in.resize(std::max<std::size_t>(in.size(), 2));
            in[0] = static_cast<std::uint8_t>(choice);
            in[1] = static_cast<std::uint8_t>(rng());
            for (int pass = 0; pass < 2; ++pass, runs++) {
                LLVMFuzzerTestOneInput(in.data(), in.size());
                for (int flips = 1 + choice % 4; flips > 0 && in.size() > 2; --flips)
                    in[2 + rng() % (in.size() - 2)] = static_cast<std::uint8_t>("\n\r[]= ;\0\xEF"[rng() % 9]);
            }
        }
    }
    std::printf("fuzz_ini_replay: %ld inputs, none broke an invariant\n", runs);
    return 0;
}

#endif
