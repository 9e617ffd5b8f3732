// The application shell: title, developer access, INI file, close, command line.
#include "CommandLine.h"
#include "IniFile.h"
#include "MB.h"
#include "Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTabBar>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const QString kTitle = QStringLiteral("KV5510 Beállító program   v2016-11-25   Varnel Kft.");
const QString kAccessText = QStringLiteral("   Belépési szint = VARNEL");

struct TempIni {
    QTemporaryDir dir;
    QString path() const { return dir.path() + QStringLiteral("/kvsetup.ini"); }
};

TFormMainOptions Options(const QString& ini, QStringList params = {}) {
    TFormMainOptions o;
    o.IniFileName = ini;
    o.Parameters = std::move(params);
    return o;
}

std::string ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

// ---------------------------------------------------------------- title

TEST(Title, WithoutAccessIsTheThreePiecesJoined) {
    TempIni ini;
    TForm_Main form(Options(ini.path()));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("3")); // the layout's, until activated
    form.FormActivate();
    EXPECT_EQ(form.windowTitle(), kTitle);
}

TEST(Title, WithAccessEndsInTheAccessTextOnceHoweverOftenActivated) {
    TempIni ini;
    TForm_Main form(Options(ini.path(), {QStringLiteral("/QORMIX")}));
    for (int i = 0; i < 4; ++i) {
        form.FormActivate();
        QEvent activation(QEvent::ActivationChange);
        QApplication::sendEvent(&form, &activation);
    }
    EXPECT_EQ(form.windowTitle(), kTitle + kAccessText);
}

TEST(Title, ActivatingTheShownWindowSetsTheTitle) {
    TempIni ini;
    TForm_Main form(Options(ini.path()));
    form.show();
    form.activateWindow();
    QApplication::setActiveWindow(&form);
    QApplication::processEvents();
    if (!form.isActiveWindow())
        GTEST_SKIP() << "this platform does not activate windows";
    EXPECT_EQ(form.windowTitle(), kTitle);
}

TEST(Title, ShowingTheWindowSetsTheTitleWithoutActivation) {
    TempIni ini;
    TForm_Main form(Options(ini.path()));
    form.setAttribute(Qt::WA_ShowWithoutActivating);
    form.show();
    EXPECT_EQ(form.windowTitle(), kTitle);
}

// ---------------------------------------------------------- access level

TEST(DeveloperAccess, TheSwitchIsFoundCaseBlanksAndPositionAside) {
    const struct {
        QStringList params;
        bool access;
    } cases[] = {
        {{}, false},
        {{QStringLiteral("/QORMIX")}, true},
        {{QStringLiteral("  /qormix  ")}, true},
        {{QStringLiteral("\t/QorMix\r\n")}, true},
        {{QStringLiteral("--connect"), QStringLiteral("/dev/ttyS0"), QStringLiteral("/qormix")}, true},
        {{QStringLiteral("/QORMIXX")}, false},
        {{QStringLiteral("QORMIX")}, false},
        {{QStringLiteral("/QOR MIX")}, false},
        {{QStringLiteral("-QORMIX")}, false},
        {{QStringLiteral("x/QORMIX")}, false},
        {{QString()}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TForm_Main::HasDeveloperAccess(c.params), c.access) << c.params.join('|').toStdString();
}

TEST(DeveloperAccess, DeveloperPageIsFirstAndSettingsStayActive) {
    TempIni ini;
    TForm_Main form(Options(ini.path(), {QStringLiteral("/qormix")}));
    EXPECT_TRUE(form.DeveloperAccess);
    EXPECT_EQ(form.PageControl1->indexOf(form.TabSheet_DeveloperTool), 0);
    EXPECT_EQ(form.PageControl1->tabText(0), QStringLiteral("Developer Tools"));
    EXPECT_TRUE(form.PageControl1->isTabVisible(0));
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet_Settings);
    EXPECT_EQ(form.PageControl2->currentWidget(), form.TabSheet_FETControl);
}

TEST(DeveloperAccess, WithoutItOnlyTheSettingsTabIsThere) {
    TempIni ini;
    TForm_Main form(Options(ini.path(), {QStringLiteral("/QORMIX+")}));
    EXPECT_FALSE(form.DeveloperAccess);
    QStringList shown;
    for (int i = 0; i < form.PageControl1->count(); ++i)
        if (form.PageControl1->isTabVisible(i))
            shown << form.PageControl1->tabText(i);
    EXPECT_EQ(shown, QStringList{QStringLiteral("Beállítások")});
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet_Settings);
    // The user cannot reach the hidden page with the keyboard either.
    form.PageControl1->setVisible(true);
    form.show();
    for (int key : {Qt::Key_Left, Qt::Key_Home, Qt::Key_Right, Qt::Key_End})
        QTest::keyClick(form.PageControl1->tabBar(), static_cast<Qt::Key>(key));
    QTest::keyClick(form.PageControl1, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet_Settings);
}

// ------------------------------------------------------------- start-up

TEST(FormCreate, GivesTheStartValues) {
    TempIni ini;
    TForm_Main form(Options(ini.path()));
    EXPECT_EQ(form.PWMValue, 0);
    EXPECT_EQ(form.PWMForceValue, 0);
    EXPECT_EQ(form.PWMForIL, 0);
    EXPECT_EQ(form.PWMForIH, 65535);
    EXPECT_EQ(form.PWMForUL, 0);
    EXPECT_EQ(form.PWMForUH, 65535);
    EXPECT_EQ(form.PCBIdentityAddress, 255u);
    EXPECT_EQ(form.FizikaiErtekFormat, QStringLiteral("0.00"));
    EXPECT_EQ(form.FizikaiErtekUnit, QStringLiteral("ohm"));
    EXPECT_EQ(form.SzamitottErtekFormat, QStringLiteral("0.0"));
    EXPECT_EQ(form.SzamitottErtekUnit, QStringLiteral("°C"));
    EXPECT_EQ(form.PageControl3->currentWidget(), form.TabSheet_Step1);
    EXPECT_EQ(form.PageControl4->currentWidget(), form.TabSheet_OutCalStep1);
    EXPECT_TRUE(form.SpeedButton_CalibrationBack->isHidden());
    EXPECT_TRUE(form.Label_CalibrationBack->isHidden());
    EXPECT_EQ(form.MB1->MBBaud(), baud115200);
    EXPECT_EQ(form.size(), QSize(1000, 708));
}

// -------------------------------------------------------------- INI file

TEST(IniFile, FirstCloseWritesDateAndLastUsedPort) {
    TempIni ini;
    ASSERT_FALSE(QFile::exists(ini.path()));
    {
        TForm_Main form(Options(ini.path()));
        form.MB1->setMBLastUsedPort(QStringLiteral("/dev/ttyUSB1"));
        form.show();
        form.close();
    }
    const kv::IniFile file(QFile::encodeName(ini.path()).toStdString());
    EXPECT_TRUE(file.SectionExists("Date"));
    const std::string date = file.ReadString("Date", "Date", "");
    EXPECT_NE(date.find("   "), std::string::npos) << date; // date, three blanks, time
    EXPECT_EQ(file.ReadString("Com", "MBLastUsedPort", "none"), "/dev/ttyUSB1");
    // The date is written before the port.
    const std::string text = ReadAll(ini.path());
    EXPECT_LT(text.find("[Date]"), text.find("[Com]"));
}

TEST(IniFile, TheLastUsedPortIsReadAtStartAndKeptWhenNothingChoseAnother) {
    TempIni ini;
    {
        QFile f(ini.path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("; mine\n[com]\nmblastusedport=/dev/ttyS3\n[Other]\nKeep=1\n");
    }
    {
        TForm_Main form(Options(ini.path()));
        EXPECT_EQ(form.MB1->MBLastUsedPort(), QStringLiteral("/dev/ttyS3"));
        form.close();
    }
    const std::string text = ReadAll(ini.path());
    EXPECT_NE(text.find("; mine\n[com]\nmblastusedport=/dev/ttyS3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Other]\nKeep=1\n"), std::string::npos) << text;
}

TEST(IniFile, AFolderThatCannotBeWrittenIsSilentlyTolerated) {
    TempIni ini;
    const QString blocker = ini.dir.path() + QStringLiteral("/not-a-folder");
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString impossible = blocker + QStringLiteral("/kvsetup.ini");
    TForm_Main form(Options(impossible));
    EXPECT_EQ(form.MB1->MBLastUsedPort(), QString());
    form.show();
    EXPECT_FALSE(form.WriteIniFile());
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(QDir(ini.dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
}

TEST(IniFile, LocationBesideTheProgramOrInTheConfigFolder) {
    EXPECT_EQ(TForm_Main::IniFileNameFor(QStringLiteral("/opt/kv/kvsetup"), true, QStringLiteral("/home/u/.config")),
              QStringLiteral("/opt/kv/kvsetup.ini"));
    EXPECT_EQ(TForm_Main::IniFileNameFor(QStringLiteral("/usr/bin/kvsetup"), false, QStringLiteral("/home/u/.config")),
              QStringLiteral("/home/u/.config/kvsetup/kvsetup.ini"));
    EXPECT_EQ(TForm_Main::IniFileNameFor(QStringLiteral("/x/kvsetup.bin"), true, QString()),
              QStringLiteral("/x/kvsetup.ini"));
}

// A build tree or a portable copy keeps the file beside the program; a
// folder of installed programs (the package's, or another prefix's such as
// ~/.local/bin) never does.
TEST(IniFile, InstalledProgramFolders) {
    const struct {
        const char* folder;
        bool installed;
    } cases[] = {
        {"/usr/bin", true},          {"/usr/local/bin", true}, {"/home/u/.local/bin", true},
        {"/home/u/.local/bin/", true}, {"/opt/kv/bin", true},  {"/home/u/bin", true},
        {"/home/u/kv/build/release/app", false}, {"/media/stick/kvsetup", false},
        {"/home/u/binaries", false}, {"/home/u/bin/kv", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TForm_Main::IsInstalledProgramFolder(QString::fromLatin1(c.folder)), c.installed) << c.folder;
}

// Another user's link planted beside the program is not taken: the INI file
// goes to the user's own configuration folder instead.
TEST(IniFile, AForeignLinkBesideTheProgramGivesWayToTheConfigFolder) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    QTemporaryDir config, elsewhere;
    const QString planted = TForm_Main::IniFileNameFor(QCoreApplication::applicationFilePath(), true, QString());
    const QByteArray plantedName = QFile::encodeName(planted);
    ASSERT_FALSE(QFileInfo::exists(planted)) << planted.toStdString();
    const QByteArray target = QFile::encodeName(elsewhere.filePath(QStringLiteral("ours.ini")));
    ASSERT_TRUE(QFile(QFile::decodeName(target)).open(QIODevice::WriteOnly));
    ASSERT_EQ(symlink(target.constData(), plantedName.constData()), 0);
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    ASSERT_EQ(lchown(plantedName.constData(), 65534, 65534), 0);
    const QString foreign = TForm_Main::DefaultIniFileName();
    ASSERT_EQ(lchown(plantedName.constData(), 0, 0), 0);
    const QString own = TForm_Main::DefaultIniFileName();
    unlink(plantedName.constData());
    qputenv("XDG_CONFIG_HOME", oldConfig);
    EXPECT_TRUE(foreign.startsWith(config.path())) << foreign.toStdString();
    EXPECT_EQ(own, planted);
}

// ------------------------------------------------------- link component

TEST(LinkComponent, StoredSettingsAndEventsAreInPlace) {
    TempIni ini;
    TForm_Main form(Options(ini.path()));
    TMB& mb = *form.MB1;
    EXPECT_TRUE(mb.OnMBPortOpenedOrClosed != nullptr);
    EXPECT_TRUE(mb.OnMBMasterEndOfEvent != nullptr);
    EXPECT_FALSE(mb.MBBaudEditVisible());
    EXPECT_EQ(mb.WinQSizeIn(), 8192u);
    EXPECT_EQ(mb.WinQSizeOut(), 8192u);
    EXPECT_EQ(mb.MBSlaveName(), "MB Slave");
    EXPECT_EQ(mb.MBBaud(), baud115200);
    EXPECT_EQ(mb.width(), 155);
    EXPECT_EQ(mb.minimumWidth(), 153);
    EXPECT_EQ(mb.maximumWidth(), 155);
    EXPECT_EQ(mb.height(), 145);
    EXPECT_FALSE(mb.MBPortOpen());
    EXPECT_EQ(mb.Port(), QStringLiteral("COM1"));
}


// The one real-time test here: a pseudo-terminal that the port list does not
// hold is added, chosen and opened once the panel has listed its ports, and
// closing the window closes it before the INI file records it.
TEST(ConnectOnStart, OpensTheNamedPortAndTheIniFileKeepsIt) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const QString slave = QString::fromLocal8Bit(ptsname(master));
    TempIni ini;
    TFormMainOptions o = Options(ini.path());
    o.ConnectPort = slave;
    {
        TForm_Main form(o);
        form.show();
        QElapsedTimer clock;
        clock.start();
        while (!form.MB1->MBPortOpen() && clock.elapsed() < 15000)
            QTest::qWait(20);
        ASSERT_TRUE(form.MB1->MBPortOpen());
        EXPECT_EQ(form.MB1->Port(), slave);
        EXPECT_EQ(form.MB1->MBLastUsedPort(), slave);
        form.close();
        EXPECT_FALSE(form.MB1->MBPortOpen());
    }
    const kv::IniFile file(QFile::encodeName(ini.path()).toStdString());
    EXPECT_EQ(QString::fromStdString(file.ReadString("Com", "MBLastUsedPort", "")), slave);
    ::close(master);
}

// ----------------------------------------------------------- command line

TEST(CommandLine, Parsing) {
    using V = std::vector<std::string>;
    EXPECT_TRUE(kv::ParseCommandLine(V{"--help"}).Help);
    EXPECT_TRUE(kv::ParseCommandLine(V{"/QORMIX", "-h"}).Help);
    EXPECT_TRUE(kv::ParseCommandLine(V{"--version"}).Version);
    EXPECT_EQ(kv::ParseCommandLine(V{"--connect", "/dev/pts/4", "/qormix"}).ConnectPort, "/dev/pts/4");
    EXPECT_EQ(kv::ParseCommandLine(V{"--connect=/dev/ttyS0"}).ConnectPort, "/dev/ttyS0");
    EXPECT_FALSE(kv::ParseCommandLine(V{"--connect"}).Error.empty());
    EXPECT_FALSE(kv::ParseCommandLine(V{"--connect="}).Error.empty());
    const auto plain = kv::ParseCommandLine(V{"/QORMIX", "-platform", "offscreen"});
    EXPECT_FALSE(plain.Help || plain.Version || !plain.Error.empty() || !plain.ConnectPort.empty());
}

TEST(CommandLine, HelpAndVersionNeedNoDisplay) {
    const struct {
        const char* arg;
        const char* expected;
    } cases[] = {{"--help", "--connect PORT"}, {"--version", "kvsetup "}};
    for (const auto& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KVSETUP_PATH), {QString::fromLatin1(c.arg)});
        ASSERT_TRUE(p.waitForFinished(30000)) << c.arg;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << c.arg;
        EXPECT_TRUE(p.readAllStandardOutput().contains(c.expected)) << c.arg;
    }
    QProcess bad;
    bad.start(QStringLiteral(KVSETUP_PATH), {QStringLiteral("--connect")});
    ASSERT_TRUE(bad.waitForFinished(30000));
    EXPECT_EQ(bad.exitCode(), 2);
}

} // namespace
