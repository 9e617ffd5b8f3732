// Fuzz target: kvctl's command line and its reading of settings files.
//
// Input: byte 0 holds flags (bit 0: the decimal separator is a comma, else
// a full stop); then the command line, one argument a line, up to the first
// NUL byte; the rest is a .kvs file's text. An argument "@" names that text
// as a file (written to a fresh folder that is also the working folder, so
// that no other name reaches anything).
//
// The port never opens (the command ends where it would open it), and
// --trace, the one option that opens a file before the port, is taken out.
// What must hold: every command line ends at once with 0, 2, 3 or 4 (an
// output found unwritable before the port) and never crashes; the text read
// with either separator has no more problems than
// with the machine's alone and the same selections; a page loaded from a
// text without a byte order mark, line breaks or NULs in its values is
// written as a fresh file's text that loads back as the same page.
//
// With KV_FUZZ this is a libFuzzer target; otherwise a replay program that
// runs the seed corpus (KV_KVCTL_CORPUS) and variants of it, and is
// registered as a test.
#include "KvCtl.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"
#include "SettingsModel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz_kvctl: invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

QTemporaryDir& Folder() {
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/fuzz_kvctl-XXXXXX")
                                                                      : QDir::tempPath() + QStringLiteral("/fuzz_kvctl-XXXXXX"));
    static const bool entered = QDir::setCurrent(dir.path());
    (void)entered;
    return dir;
}

void CheckSettingsText(const std::string& text, char sep) {
    const kv::IniSnapshot ini = kv::IniSnapshot::FromText(text);
    const kv::SettingsFileLoad locale = kv::LoadSettings(ini, sep);
    const kv::SettingsFileLoad either = kv::LoadSettings(ini, sep, kv::FileSeparators::Either);
    if (locale.status != either.status)
        Fail("the separator option changed whether the text is a settings file");
    if (either.status != kv::SettingsFileLoad::Loaded)
        return;
    if (either.problems.size() > locale.problems.size())
        Fail("either separator found more problems than the machine's alone");
    kv::SettingsPage a = locale.page, b = either.page;
    a.FizikaiForOutL = b.FizikaiForOutL = a.FizikaiForOutH = b.FizikaiForOutH = QString();
    if (!(a == b))
        Fail("the separator option changed a selection");
    (void)kv::RecordFromPage(either.page, sep);

    for (const QString& t : {either.page.FizikaiForOutL, either.page.FizikaiForOutH})
        if (t.contains(QLatin1Char('\r')) || t.contains(QChar(0)) || ini.HasBom())
            return;
    const std::string fresh = kv::SettingsFileText(either.page, QDate(2026, 12, 7));
    const kv::SettingsFileLoad back = kv::LoadSettings(kv::IniSnapshot::FromText(fresh), sep, kv::FileSeparators::Either);
    if (back.status != kv::SettingsFileLoad::Loaded || !(back.page == either.page))
        Fail("a fresh file's text loads back different:", fresh);
}

void RunCommandLine(const QStringList& given, const std::string& text) {
    QStringList args;
    for (int i = 0; i < given.size(); ++i) {
        const QString& a = given[i];
        if (a == QLatin1String("--trace")) {
            ++i; // and its value
            continue;
        }
        if (a.startsWith(QLatin1String("--trace=")) || a == QLatin1String("ports"))
            continue; // ports would probe the machine's serial ports
        if (a == QLatin1String("@")) {
            const QString path = Folder().filePath(QStringLiteral("in.kvs"));
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                Fail("cannot write the input file");
            f.write(text.data(), static_cast<qint64>(text.size()));
            args << path;
            continue;
        }
        // Only names inside the fresh folder.
        args << (a.contains(QLatin1Char('/')) ? QStringLiteral("x") : a);
    }
    TMBManualClock clock;
    kvctl::TEnvironment env;
    env.timers = &clock;
    env.makePort = [] {
        auto p = std::make_unique<TMBMemoryPort>();
        p->SetOpenError(QStringLiteral("no port in the fuzzer"));
        return p;
    };
    env.now = [] { return QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::OffsetFromUTC, 3600); };
    env.monotonic = [] { return 0.0; };
    QByteArray out, err;
    env.out = [&](const QByteArray& b) { out += b; };
    env.err = [&](const QByteArray& b) { err += b; };
    env.envPort = QStringLiteral("/dev/ttyMEM0");
    kvctl::TKvCtl ctl(env);
    ctl.Start(args);
    if (!ctl.Finished())
        Fail("a command line did not end without a port:", args.join(QLatin1Char(' ')).toStdString());
    const int code = ctl.ExitCode();
    if (code != kvctl::exitOK && code != kvctl::exitUsage && code != kvctl::exitNoAnswer && code != kvctl::exitOutput)
        Fail("unexpected exit code for", args.join(QLatin1Char(' ')).toStdString());
    if (code != kvctl::exitOK && err.isEmpty())
        Fail("a failure said nothing:", args.join(QLatin1Char(' ')).toStdString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const char sep = (data[0] & 1) ? ',' : '.';
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto nul = rest.find('\0');
    const std::string line = rest.substr(0, nul);
    const std::string text = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    const char saved = kv::DecimalSeparator();
    kv::SetDecimalSeparator(sep);
    CheckSettingsText(text, sep);
    QStringList args = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).split(QLatin1Char('\n'));
    if (args.size() > 64)
        args = args.mid(0, 64);
    RunCommandLine(args, text);
    kv::SetDecimalSeparator(saved);
    return 0;
}

#ifndef KV_FUZZ_LIBFUZZER

#include "FuzzCorpus.h"

#include <random>
#include <vector>

int main() {
    std::mt19937 rng(7730);
    long runs = 0;
    const std::size_t seeds = kvfuzz::ReplayCorpus(KV_KVCTL_CORPUS, [&](const std::uint8_t* data, std::size_t size) {
        // The seed under both separators, then with bytes overwritten by
        // separators, line breaks, dashes and NULs.
        for (int variant = 0; variant < 200; ++variant, ++runs) {
            std::vector<std::uint8_t> in(data, data + size);
            if (in.empty())
                in.push_back(0);
            in[0] = static_cast<std::uint8_t>(variant & 1);
            for (int flips = variant / 2 % 12; flips > 0 && in.size() > 1; --flips)
                in[1 + rng() % (in.size() - 1)] = static_cast<std::uint8_t>("\n\r.,-= 0\0@["[rng() % 11]);
            LLVMFuzzerTestOneInput(in.data(), in.size());
        }
    });
    if (seeds == 0) {
        std::fprintf(stderr, "fuzz_kvctl_replay: no seeds in %s\n", KV_KVCTL_CORPUS);
        return 1;
    }
    std::printf("fuzz_kvctl_replay: %ld inputs, none broke an invariant\n", runs);
    return 0;
}

#endif
