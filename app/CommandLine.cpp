#include "CommandLine.h"
#include "KvVersion.h"

#include <QCoreApplication>
#include <QString>

namespace kv {

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine cl;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            cl.Help = true;
        } else if (a == "--version") {
            cl.Version = true;
        } else if (a == "--connect") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                cl.Error = "--connect needs a port, for example --connect /dev/ttyUSB0";
            } else {
                cl.ConnectPort = args[++i];
            }
        } else if (a.rfind("--connect=", 0) == 0) {
            cl.ConnectPort = a.substr(10);
            if (cl.ConnectPort.empty())
                cl.Error = "--connect needs a port, for example --connect /dev/ttyUSB0";
        } else if (a == "--lang" || a.rfind("--lang=", 0) == 0) {
            std::string value;
            if (a.size() > 6)
                value = a.substr(7);
            else if (i + 1 < args.size())
                value = args[++i];
            cl.Language = lang::ParseLanguage(QString::fromStdString(value));
            if (!cl.Language)
                cl.Error = "--lang takes hu or en, for example --lang en";
        }
    }
    return cl;
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program + " [--connect PORT] [--lang hu|en]\n"
           "The setup and calibration program of the KV5510 / KV7730 temperature transmitters.\n"
           "\n"
           "  --connect PORT  once the link panel has listed the serial ports, choose PORT\n"
           "                  (for example /dev/ttyUSB0) and open it, as if on the panel\n"
           "  --lang hu|en    the window's language: Hungarian or English (default:\n"
           "                  Hungarian under a Hungarian or the C locale, else English)\n"
           "  -h, --help      show this help and exit\n"
           "      --version   show the version and exit\n"
           "\n"
           "The last used port is kept in an INI file named after the program beside it\n"
           "when that folder is writable and no folder of installed programs (a \"bin\"),\n"
           "otherwise in $XDG_CONFIG_HOME (or ~/.config) in a folder named after the\n"
           "program.\n";
}

std::string VersionText(const lang::TTranslation& translation) {
    return std::string("kvsetup ") + KV_VERSION + " (" +
           translation.Text("kvsetup", QT_TRANSLATE_NOOP("kvsetup", "KV5510 Beállító program v%1"))
               .arg(QStringLiteral("2016-11-25"))
               .toStdString() +
           ")\n";
}

} // namespace kv
