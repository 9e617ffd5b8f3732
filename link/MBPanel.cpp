// The panel's port sequences (list refresh, open, close) and its display
// routines, which the link's logic calls while it works.
#include "MB.h"

#include "MBPortHolders.h"
#include <QFontMetrics>

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

// ---- port list ---------------------------------------------------------------------------

void TMB::MBRefreshPortList() {
    // Runs only while "Ref" may be used: not during a refresh (the probing
    // may let events through on some platforms) and not while the port is
    // open ("Ref" is disabled then, and the list is hidden).
    if (FRefreshing || MBPortOpen())
        return;
    FRefreshing = true;
    QFont bold = Button_Ref->font();
    bold.setBold(false);
    Button_Ref->setFont(bold);
    Button_Ref->setEnabled(false);
    SpeedButton_OpenClose->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);

    ListBox_Ports->clear();
    FLeftOut.clear();
    QStringList ports;
    if (FPortLister)
        FPortLister(&ports);
    std::reverse(ports.begin(), ports.end());
    ListBox_Ports->addItems(ports);
    ShowLeftOutPorts();
    // The whole name of each port, which the narrow list elides.
    for (int i = 0; i < ListBox_Ports->count(); ++i)
        ListBox_Ports->item(i)->setToolTip(ListBox_Ports->item(i)->text());
    if (!ports.isEmpty()) {
        int row = static_cast<int>(ports.indexOf(FLastUsedPort));
        // A port lost to a hang-up may come back under another name
        // (ttyUSB0 as ttyUSB1) with the same /dev/serial/by-id name.
        for (int i = 0; row < 0 && FKeepLastUsedPort && i < ports.size(); ++i)
            if (mb::IsSerialId(ports.at(i), FLastUsedSerialId, FSerialIdFolder))
                row = i;
        const bool found = row >= 0;
        ListBox_Ports->setCurrentRow(found ? row : 0);
        // The port lost to a hang-up stays the remembered one until it comes
        // back or the user chooses another.
        if (found || !FKeepLastUsedPort) {
            FLastUsedPort = ports.at(found ? row : 0);
            FKeepLastUsedPort = false;
        }
    }

    Button_Ref->setEnabled(true);
    SpeedButton_OpenClose->setEnabled(!ports.isEmpty());
    QApplication::restoreOverrideCursor();
    FRefreshing = false;
}

void TMB::ShowLeftOutPorts() {
    QString tip;
    if (!FLeftOut.isEmpty()) {
        tip = QStringLiteral("Not listed:");
        for (const mb::TLeftOutPort& p : FLeftOut)
            tip += QLatin1Char('\n') + p.path + QStringLiteral(": ") + p.reason;
    }
    ListBox_Ports->setToolTip(tip);
}

void TMB::MBPortListClick() {
    if (QListWidgetItem* item = ListBox_Ports->currentItem(); item && item->isSelected()) {
        FLastUsedPort = item->text();
        FKeepLastUsedPort = false;
    }
}

// ---- open and close -------------------------------------------------------------------------

void TMB::MBOpenCloseToggle() {
    const bool wasOpen = MBPortOpen();
    if (wasOpen && !SpeedButton_OpenClose->isChecked() && !FHangingUp)
        if (const TMBBeforeClose h = OnMBBeforeClose; h && !h()) {
            SpeedButton_OpenClose->setChecked(true); // still open
            return;
        }
    if (SpeedButton_OpenClose->isChecked())
        OpenSequence();
    else
        CloseSequence();
    Label_Try->setVisible(MBTryDisplay() && MBPortOpen());
    if (MBPortOpen() != wasOpen)
        if (const TPortOpenedOrClosed h = OnMBPortOpenedOrClosed)
            h(MBPortOpen());
}

void TMB::OpenSequence() {
    Button_Ref->setEnabled(false);
    ListBox_Ports->setEnabled(false);
    SetIndicator(mbpanel::kGreen);
    QString port = Port();
    if (QListWidgetItem* item = ListBox_Ports->currentItem())
        port = item->text();
    // A long path (a by-id name, a simulator's link) keeps its distinctive
    // end in the narrow view; the whole name is in the tooltip.
    Label_OpenPortName->setText(Label_OpenPortName->fontMetrics().elidedText(
        port, Qt::ElideLeft, Label_OpenPortName->width()));
    Label_OpenPortName->setToolTip(port);
    SpeedButton_OpenClose->setText(QStringLiteral("Close"));
    if (!MBOpenLink(port)) {
        // Reported only by the red indicator and the closed status; the
        // link is closed again already.
        SpeedButton_OpenClose->setChecked(false);
        ShowClosed();
        SetIndicator(mbpanel::kRed);
        MBRefreshPortList();
        return;
    }
    MBUpdateView();
    FThereWasOpenEvent = true;
    // Opening another port after a hang-up lets the lost one go.
    if (FKeepLastUsedPort) {
        FLastUsedPort = port;
        FKeepLastUsedPort = false;
    }
    FPortSerialId = mb::SerialIdOf(port, FSerialIdFolder);
}

void TMB::ShowClosed() {
    Button_Ref->setEnabled(true);
    ListBox_Ports->setEnabled(true);
    FRequest.Close(MBMasterAddressToSlave(), MBMasterCommandToSlave());
    ShowRequestLabels();
    SpeedButton_OpenClose->setText(QStringLiteral("Open"));
}

void TMB::CloseSequence() {
    // Answer timer, MBPortOpen, lamps and try display, busy, state, status,
    // speed text, view, the end event of an outstanding transaction; then
    // the device is released.
    MBCloseLink();
    ShowClosed();
}

void TMB::MBClose() {
    if (!MBPortOpen())
        return;
    SpeedButton_OpenClose->setChecked(false);
    MBOpenCloseToggle();
}

bool TMB::MBOpenListedPort(const QString& port, QString* why) {
    auto refuse = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    if (MBPortOpen())
        return refuse(QStringLiteral("the link has %1 open already").arg(Port()));
    // The entry as listed, by its whole name or by its device name.
    const auto baseName = [](const QString& p) { return p.section(QLatin1Char('/'), -1); };
    QListWidgetItem* entry = nullptr;
    for (int i = 0; i < ListBox_Ports->count() && !entry; ++i)
        if (ListBox_Ports->item(i)->text() == port)
            entry = ListBox_Ports->item(i);
    for (int i = 0; i < ListBox_Ports->count() && !entry; ++i)
        if (baseName(ListBox_Ports->item(i)->text()) == baseName(port))
            entry = ListBox_Ports->item(i);
    if (!entry) {
        // Not among the machine's ports (a pseudo-terminal, say): listed if it opens.
        if (!mb::ProbePort(port))
            return refuse(QStringLiteral("%1 cannot be opened").arg(port));
        ListBox_Ports->addItem(port);
        entry = ListBox_Ports->item(ListBox_Ports->count() - 1);
        entry->setToolTip(port);
    }
    ListBox_Ports->setCurrentItem(entry);
    MBPortListClick();
    // A list with an entry enables Open, as the refresh does.
    SpeedButton_OpenClose->setEnabled(true);
    SpeedButton_OpenClose->setChecked(true);
    MBOpenCloseToggle(); // a failed open refreshes the list: `entry` is gone then
    if (!MBPortOpen())
        return refuse(QStringLiteral("%1 cannot be opened: %2").arg(Port(), MBPortDevice().ErrorText().simplified()));
    return true;
}

void TMB::MBDeviceLost() {
    // The device went away under an open port: closed as if the user had
    // released Open, so the application stops sending, and what is left is
    // listed. The vanished port stays the remembered one (and the INI
    // file's), so that it is chosen again when it comes back.
    FLastUsedPort = Port();
    FLastUsedSerialId = FPortSerialId;
    FKeepLastUsedPort = true;
    FHangingUp = true;
    MBClose();
    FHangingUp = false;
    MBRefreshPortList();
}

// ---- rate ---------------------------------------------------------------------------------

void TMB::MBBaudListClick() {
    const int i = ComboBox_Baud->currentIndex();
    setMBBaud(i >= 0 && i < static_cast<int>(mb::kBaudRates.size()) ? static_cast<TMBBaud>(i)
                                                                     : baud009600);
}

void TMB::MBShowBaud() {
    const int i = static_cast<int>(MBBaud());
    if (i < ComboBox_Baud->count())
        ComboBox_Baud->setCurrentIndex(i);
    Label_Baud->setText(mbpanel::RateText(MBBaudRate()));
}

// ---- start-up and view -----------------------------------------------------------------------

void TMB::MBDeferredStart() {
    ComboBox_Baud->clear();
    for (std::uint32_t rate : mb::kBaudRates)
        ComboBox_Baud->addItem(QString::number(rate) + QStringLiteral(" baud"));
    setMBBaud(MBBaud());
    if (FRefreshListOnStartup) {
        MBRefreshPortList();
    } else {
        // A bold "Ref" hints that the list is empty until it is refreshed.
        QFont f = Button_Ref->font();
        f.setBold(true);
        Button_Ref->setFont(f);
    }
    Button_Ref->setEnabled(!MBPortOpen()); // "Ref" stays off while a port is open
    MBUpdateView();
    MBClearHistory();
    MBClearGraph(Image_SpeedGraphBuffer);
    MBClearGraph(Image_SpeedGraph);
    // Counters, and the mode once more: caption, units, try display.
    TMBEngine::MBDeferredStart();
}

void TMB::MBUpdateView() {
    const bool open = MBPortOpen();
    ComboBox_Baud->setVisible(FBaudEditVisible && !open);
    Label_Baud->setVisible(ComboBox_Baud->isHidden());
    ListBox_Ports->setVisible(!open);
    Panel_OpenPort->setVisible(open);
}

void TMB::MBShowCaption() { setTitle(QString::fromStdString(MBCaption())); }

void TMB::MBSetTryDisplay(bool shown) { Label_Try->setVisible(shown && MBPortOpen()); }

// ---- counters, lamps, statuses ------------------------------------------------------------------

void TMB::MBShowCounters() {
    const QString unit = QString::fromStdString(MBCounterUnit());
    Label_TFrames->setText(mbpanel::CounterText(MBNumberOfTxFrames(), unit));
    Label_RFrames->setText(mbpanel::CounterText(MBNumberOfRxFrames(), unit));
}

void TMB::MBShowSentCount() { Label_TDataCount->setText(mbpanel::DataCountText(MBDataNumberToSend())); }

void TMB::MBShowReceivedCount() {
    Label_RDataCount->setText(mbpanel::DataCountText(MBReceivedDataNumber()));
}

void TMB::MBShowTID(const std::string& text) { Label_TID->setText(QString::fromStdString(text)); }

void TMB::MBShowRID(const std::string& text) { Label_RID->setText(QString::fromStdString(text)); }

void TMB::MBShowTry(int n) { Label_Try->setText(mbpanel::TryText(n, MBMasterTryNumberMax())); }

void TMB::MBLightTLamp() {
    // Lit once per piece of a frame: the colour is set only when it changes.
    if (!FTLampLit)
        SetBackground(Label_TLamp, mbpanel::kLampLit);
    FTLampLit = true;
    FTLampTimer->start(50);
}

void TMB::MBTLampOff() {
    FTLampTimer->stop();
    FTLampLit = false;
    SetBackground(Label_TLamp, FFace);
}

void TMB::MBLightRLamp() {
    SetBackground(Label_RLamp, mbpanel::kLampLit);
    FRLampTimer->start(50);
}

void TMB::MBResetLamps() {
    FTLampTimer->stop();
    FRLampTimer->stop();
    FTLampLit = false;
    SetBackground(Label_TLamp, FFace);
    SetBackground(Label_RLamp, FFace);
    SetBackground(Label_LastStatus, FFace);
    if (!MBPortOpen())
        SetIndicator(FFace);
}

void TMB::MBShowLastStatus() {
    // A status too long for the narrow line ("Unknown Command") is cut at
    // its end and shown whole in the tooltip.
    const QString text = QStringLiteral("Last status: ") + QString::fromStdString(MBStatusString());
    const int room = Label_LastStatus->contentsRect().width();
    if (text != FShownStatus || room != FShownStatusRoom || Label_LastStatus->font() != FShownStatusFont) {
        const QFontMetrics fm(Label_LastStatus->font());
        const bool fits = fm.horizontalAdvance(text) <= room;
        Label_LastStatus->setText(fits ? text : fm.elidedText(text, Qt::ElideRight, room));
        Label_LastStatus->setToolTip(fits ? QString() : text);
        FShownStatus = text;
        FShownStatusRoom = room;
        FShownStatusFont = Label_LastStatus->font();
    }
    QColor c = FFace;
    if (MBStatus() == stSlaveError)
        c = mbpanel::kLampLit;
    else if (MBStatus() == stTimeOut)
        c = mbpanel::kRed;
    SetBackground(Label_LastStatus, c);
}

// ---- request line ---------------------------------------------------------------------------------

void TMB::ShowRequestLabels() {
    Label_CurrentRequest->setText(FRequest.Current());
    Label_RequestHistory->setText(FRequest.History());
}

void TMB::MBShowCurrentRequest(std::uint8_t address, std::uint8_t command) {
    FRequest.Show(address, command);
    ShowRequestLabels();
}

void TMB::MBPushHistory() {
    FRequest.Push();
    ShowRequestLabels();
}

void TMB::MBClearHistory() {
    FRequest.Clear(MBMasterAddressToSlave(), MBMasterCommandToSlave());
    ShowRequestLabels();
}

// ---- speed ------------------------------------------------------------------------------------

void TMB::MBShowSpeed() {
    Label_Speed->setText(mbpanel::SpeedText(MBSpeed(), QString::fromStdString(MBSpeedUnit()),
                                            MBLowestSpeed(), MBSpeedMax()));
    Label_Speed->adjustSize();
}

void TMB::MBClearGraph(QLabel* image) {
    if (image == Image_SpeedGraphBuffer)
        mbpanel::TMBSpeedGraph::Clear(FGraphBuffer, FFace);
    QImage img(mbpanel::TMBSpeedGraph::kWidth, mbpanel::TMBSpeedGraph::kHeight, QImage::Format_RGB32);
    mbpanel::TMBSpeedGraph::Clear(img, FFace);
    image->setPixmap(QPixmap::fromImage(img));
}

void TMB::MBDrawSpeedGraph() {
    FGraph.Append(MBSpeed(), FGraphBuffer.width());
    FGraph.Draw(FGraphBuffer, MBSpeedMax(), FFace);
    const QPixmap pm = QPixmap::fromImage(FGraphBuffer);
    Image_SpeedGraphBuffer->setPixmap(pm);
    Image_SpeedGraph->setPixmap(pm);
}

void TMB::MBClearCounters() {
    TMBEngine::MBClearCounters();
    FGraph.Reset();
    MBClearGraph(Image_SpeedGraphBuffer);
    MBClearGraph(Image_SpeedGraph);
}
