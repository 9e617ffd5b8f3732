// The program entry: the main window, then the second form, then the event
// loop until the main window is closed.
#include "AppStyle.h"
#include "CommandLine.h"
#include "Main.h"
#include "Piszkozat.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The toolkit takes its own options out of argv; the window sees them all.
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const kv::TCommandLine cl = kv::ParseCommandLine(args);
    const std::string program = argc > 0 ? std::string(argv[0]).substr(std::string(argv[0]).rfind('/') + 1)
                                          : std::string("kvsetup");
    if (cl.Help) {
        std::fputs(kv::UsageText(program).c_str(), stdout);
        return 0;
    }
    // The language: --lang, else the locale's. Chosen before the window
    // exists, which takes its texts from it as it is built.
    kv::lang::TTranslation translation(cl.Language.value_or(kv::lang::LanguageOfEnvironment()));
    if (cl.Version) {
        std::fputs(kv::VersionText(translation).c_str(), stdout);
        return 0;
    }
    if (!cl.Error.empty()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), cl.Error.c_str());
        return 2;
    }

    QApplication application(argc, argv);
    translation.Install();
    kv::UseClassicLook(application);
    // The menu entry's name and icon, for the desktop to match the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("hu.varnel.kvsetup"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("hu.varnel.kvsetup")));

    TFormMainOptions options;
    for (const std::string& a : args)
        options.Parameters << QString::fromLocal8Bit(a.c_str());
    options.ConnectPort = QString::fromLocal8Bit(cl.ConnectPort.c_str());

    TForm_Main Form_Main(options);
    TForm1 Form1;
    Form1.setObjectName(QStringLiteral("Form1"));
    Form_Main.show();
    return application.exec();
}
