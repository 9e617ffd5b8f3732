// TForm_Main: start-up, window title, access level, INI file and close.
#include "Main.h"

#include "IniFile.h"
#include "MB.h"
#include "NumberPicture.h"
#include "SpeedButton.h"
#include "WindowFit.h"

#include <QCloseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QStandardPaths>

#include <unistd.h>

namespace {

constexpr char kDeveloperSwitch[] = "/QORMIX";

// The program's build date, shown in the title.
constexpr int kBuildYear = 2016;
constexpr int kBuildMonth = 11;
constexpr int kBuildDay = 25;

QString Picture(int value, const char* picture) {
    return QString::fromStdString(kv::FormatPicture(value, picture));
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Blanks and control characters at both ends do not count.
QString StripBlanks(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 0x20)
        ++b;
    while (e > b && s.at(e - 1).unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

} // namespace

void TForm_Main::FormCreate() {
    // 1. The port last chosen on the link panel.
    ReadIniFile();

    // 2. Start values that the wizards and the status display rely on.
    PWMValue = 0;
    PWMForceValue = 0;
    PWMForIL = 0;
    PWMForIH = 65535;
    PWMForUL = 0;
    PWMForUH = 65535;
    PCBIdentityAddress = 255; // no device seen yet

    // 3. Both wizards start at their first step.
    PageControl3->setCurrentWidget(TabSheet_Step1);
    PageControl4->setCurrentWidget(TabSheet_OutCalStep1);
    SpeedButton_CalibrationBack->hide();
    Label_CalibrationBack->hide();

    // 4. Display formats until the device reports its input mode.
    FizikaiErtekFormat = QStringLiteral("0.00");
    FizikaiErtekUnit = QStringLiteral("ohm");
    SzamitottErtekFormat = QStringLiteral("0.0");
    SzamitottErtekUnit = QStringLiteral("°C");

    // 5. The developer page only at the developer access level.
    DeveloperAccess = HasDeveloperAccess();
    ApplyAccessLevel();

    // 6. The transmitter talks at 115 200 baud.
    MB1->setMBBaud(baud115200);
}

bool TForm_Main::HasDeveloperAccess(const QStringList& parameters) {
    for (const QString& p : parameters)
        if (StripBlanks(p).toUpper() == QLatin1String(kDeveloperSwitch))
            return true;
    return false;
}

void TForm_Main::ApplyAccessLevel() {
    const int page = PageControl1->indexOf(TabSheet_DeveloperTool);
    PageControl1->setTabVisible(page, DeveloperAccess);
    // A hidden tab can still be reached with the arrow keys and Ctrl+Tab;
    // a disabled one cannot.
    PageControl1->setTabEnabled(page, DeveloperAccess);
    TabSheet_DeveloperTool->setVisible(DeveloperAccess && PageControl1->currentIndex() == page);
}

QString TForm_Main::TitleText(bool developerAccess) {
    const QString buildDate = Picture(kBuildYear, "0000") + QLatin1Char('-') + Picture(kBuildMonth, "00") +
                              QLatin1Char('-') + Picture(kBuildDay, "00");
    QString title = tr("KV5510 Beállító program   v%1   Varnel Kft.").arg(buildDate);
    if (developerAccess)
        title += tr("   Belépési szint = VARNEL");
    return title;
}

void TForm_Main::FormActivate() {
    // Built from scratch on every activation: the access text stands in it once.
    setWindowTitle(TitleText(DeveloperAccess));
}

void TForm_Main::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TForm_Main::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_shownOnce || event->spontaneous())
        return;
    m_shownOnce = true;
    // A window shown without being activated (no window manager, or one that
    // keeps the focus elsewhere) has its title from the start all the same.
    FormActivate();
    // At the centre of the desktop and inside it. The frame is not known
    // before the window manager has framed the window: a title bar and
    // borders of a common size are assumed until then.
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s || !isWindow())
        return;
    FitToScreen(s->availableGeometry(), QMargins(8, 40, 8, 8));
    // Once the window manager has framed the window, its real frame decides
    // whether the window still fits.
    QTimer::singleShot(300, this, [this] {
        const QScreen* s = screen();
        if (!s || frameGeometry() == geometry())
            return;
        const QRect available = s->availableGeometry();
        if (!available.contains(frameGeometry()))
            FitToScreen(available, QMargins(geometry().left() - frameGeometry().left(),
                                            geometry().top() - frameGeometry().top(),
                                            frameGeometry().right() - geometry().right(),
                                            frameGeometry().bottom() - geometry().bottom()));
    });
}

void TForm_Main::FitToScreen(const QRect& available, const QMargins& frame) {
    QSize wanted = m_scroller ? m_scroller->Content() : size();
    // Where the height does not fit, the vertical bar's width is added, so
    // that no horizontal bar is needed where the width would have fitted.
    if (wanted.height() + frame.top() + frame.bottom() > available.height())
        wanted.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QRect r = kv::FitWindow(wanted, available, frame);
    resize(r.size());
    if (m_scroller)
        m_scroller->Relayout(); // also before the window is shown
    // A window's position is that of its frame.
    move(r.topLeft() - QPoint(frame.left(), frame.top()));
}

void TForm_Main::FormClose() {
    // The port is closed first, as when the user releases Open, so that the
    // INI file holds the port that was in use.
    MB1->MBClose();
    try {
        WriteIniFile();
    } catch (...) {
        // The window closes whatever happened to its INI file.
    }
}

void TForm_Main::closeEvent(QCloseEvent* event) {
    // The window waits for the poll that ends the forcing (at most the
    // link's time-out for one try), then closes with the port.
    if (!m_closed && MB1->MBPortOpen() && (m_pollCycle->Forcing() || m_pollCycle->EndingForcing())) {
        event->ignore();
        m_pollCycle->EndForcing([this] { close(); });
        return;
    }
    if (!m_closed) {
        m_closed = true;
        FormClose();
    }
    event->accept();
}

void TForm_Main::ReadIniFile() {
    const kv::IniFile ini(LocalPath(m_iniFileName));
    MB1->setMBLastUsedPort(QString::fromStdString(ini.ReadString("Com", "MBLastUsedPort", "")));
}

bool TForm_Main::WriteIniFile() {
    QDir().mkpath(QFileInfo(m_iniFileName).absolutePath());
    kv::IniFile ini(LocalPath(m_iniFileName));
    // One reading of the clock for both the date and the time.
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    const QString stamp = locale.toString(now.date(), QLocale::ShortFormat) + QStringLiteral("   ") +
                          locale.toString(now.time(), QLocale::LongFormat);
    if (!ini.WriteString("Date", "Date", stamp.toStdString()))
        return false;
    return ini.WriteString("Com", "MBLastUsedPort", MB1->MBLastUsedPort().toStdString());
}

QString TForm_Main::IniFileNameFor(const QString& executable, bool executableFolderWritable,
                                   const QString& configHome) {
    const QFileInfo exe(executable);
    const QString name = exe.completeBaseName().isEmpty() ? QStringLiteral("kvsetup") : exe.completeBaseName();
    if (executableFolderWritable)
        return exe.absolutePath() + QLatin1Char('/') + name + QStringLiteral(".ini");
    return configHome + QLatin1Char('/') + name + QLatin1Char('/') + name + QStringLiteral(".ini");
}

bool TForm_Main::IsInstalledProgramFolder(const QString& folder) {
    const QString clean = QDir::cleanPath(folder);
    return QFileInfo(clean).fileName() == QLatin1String("bin") ||
           QString::fromUtf8(KV_INSTALL_BINDIRS).split(QLatin1Char(':'), Qt::SkipEmptyParts).contains(clean);
}

QString TForm_Main::DefaultIniFileName() {
    const QString exe = QCoreApplication::applicationFilePath();
    const QString folder = QFileInfo(exe).absolutePath();
    // An installed program keeps its file in the user's folder even where it
    // could write beside itself (run as root, or installed into ~/.local): a
    // folder of programs is no place for one user's settings.
    bool writable = !exe.isEmpty() && !IsInstalledProgramFolder(folder) && ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
    // A link of another user in the program's folder (a shared folder beside
    // a portable copy) is neither read nor written: the user's own place serves.
    if (writable)
        writable = !kv::IniFile::UntrustedLink(LocalPath(IniFileNameFor(exe, true, QString())));
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return IniFileNameFor(exe, writable, configHome);
}
