// The panel's port sequences (list refresh, open, close) and its display
// routines, which the link's logic calls while it works.
#include "MB.h"

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
    // A refresh in progress does not start another one (the probing may let
    // events through on some platforms).
    if (FRefreshing)
        return;
    FRefreshing = true;
    QFont bold = Button_Ref->font();
    bold.setBold(false);
    Button_Ref->setFont(bold);
    Button_Ref->setEnabled(false);
    SpeedButton_OpenClose->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);

    ListBox_Ports->clear();
    QStringList ports;
    if (FPortLister)
        FPortLister(&ports);
    std::reverse(ports.begin(), ports.end());
    // The open port cannot be probed: it is held by this component.
    if (MBPortOpen())
        ports.append(FPort);
    ListBox_Ports->addItems(ports);
    // The whole name of each port, which the narrow list elides.
    for (int i = 0; i < ListBox_Ports->count(); ++i)
        ListBox_Ports->item(i)->setToolTip(ListBox_Ports->item(i)->text());
    if (!ports.isEmpty()) {
        int row = 0;
        const int last = static_cast<int>(ports.indexOf(FLastUsedPort));
        if (last >= 0)
            row = last;
        ListBox_Ports->setCurrentRow(row);
        FLastUsedPort = ports.at(row);
    }

    Button_Ref->setEnabled(true);
    SpeedButton_OpenClose->setEnabled(!ports.isEmpty());
    QApplication::restoreOverrideCursor();
    FRefreshing = false;
}

void TMB::MBPortListClick() {
    if (QListWidgetItem* item = ListBox_Ports->currentItem(); item && item->isSelected())
        FLastUsedPort = item->text();
}

// ---- open and close -------------------------------------------------------------------------

void TMB::MBOpenCloseToggle() {
    const bool wasOpen = MBPortOpen();
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
    if (QListWidgetItem* item = ListBox_Ports->currentItem())
        FPort = item->text();
    // A long path (a by-id name, a simulator's link) keeps its distinctive
    // end in the narrow view; the whole name is in the tooltip.
    Label_OpenPortName->setText(Label_OpenPortName->fontMetrics().elidedText(
        FPort, Qt::ElideLeft, Label_OpenPortName->width()));
    Label_OpenPortName->setToolTip(FPort);
    MBEnginePortOpened();
    MBUpdateView();
    SpeedButton_OpenClose->setText(QStringLiteral("Close"));
    try {
        MBOpenPort();
        FThereWasOpenEvent = true;
        MBRestartSecondTimer();
    } catch (const EComError& e) {
        // Reported only by the red indicator and the closed status.
        FLastOpenError = QString::fromUtf8(e.what());
        SpeedButton_OpenClose->setChecked(false);
        CloseSteps();
        // The button is up again, so it offers to open.
        SpeedButton_OpenClose->setText(QStringLiteral("Open"));
        MBClosePort();
        SetIndicator(mbpanel::kRed);
        MBRefreshPortList();
    }
}

void TMB::CloseSteps() {
    Button_Ref->setEnabled(true);
    ListBox_Ports->setEnabled(true);
    // Answer timer, MBPortOpen, lamps and try display, busy, state, status,
    // speed text, view, and the end event of an outstanding transaction.
    MBEnginePortClosed();
    FRequest.Close(MBMasterAddressToSlave(), MBMasterCommandToSlave());
    ShowRequestLabels();
}

void TMB::CloseSequence() {
    CloseSteps();
    SpeedButton_OpenClose->setText(QStringLiteral("Open"));
    MBClosePort();
}

void TMB::MBClose() {
    if (!MBPortOpen())
        return;
    SpeedButton_OpenClose->setChecked(false);
    MBOpenCloseToggle();
}

void TMB::DeviceHungUp(int session) {
    // The device went away under an open port: close as if the user had
    // released Open, so the application stops sending, and list what is left.
    if (session != FSession || !MBPortOpen())
        return;
    MBClose();
    MBRefreshPortList();
}

void TMB::MBOpenPort() {
    if (FOpen)
        return;
    if (!FDevice->Open(FPort, MBBaudRate()))
        throw EComError((QStringLiteral("TMB : cannot open ") + FPort + QLatin1Char('\r') +
                         FDevice->ErrorText())
                            .toStdString());
    ++FSession;
    FOpen = true;
}

void TMB::MBClosePort() {
    if (!FOpen)
        return;
    FOpen = false;
    FDevice->Close();
}

void TMB::MBWriteText(const QByteArray& bytes) {
    if (FOpen)
        FDevice->Write(bytes);
}

bool TMB::MBWriteToPort(const std::uint8_t* data, std::size_t n) {
    if (!FOpen)
        return false;
    const auto size = static_cast<qint64>(n);
    return FDevice->Write(reinterpret_cast<const char*>(data), size) == size;
}

void TMB::MBReceiveChunk(qint64 waiting) {
    if (waiting <= 0)
        return;
    const QByteArray bytes = FDevice->Read(waiting);
    if (FOpen && !bytes.isEmpty())
        MBParseReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()));
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
    Button_Ref->setEnabled(true);
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
    SetBackground(Label_TLamp, mbpanel::kLampLit);
    FTLampTimer->start(50);
}

void TMB::MBTLampOff() {
    FTLampTimer->stop();
    SetBackground(Label_TLamp, FFace);
}

void TMB::MBLightRLamp() {
    SetBackground(Label_RLamp, mbpanel::kLampLit);
    FRLampTimer->start(50);
}

void TMB::MBResetLamps() {
    FTLampTimer->stop();
    FRLampTimer->stop();
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
    const QFontMetrics fm(Label_LastStatus->font());
    const bool fits = fm.horizontalAdvance(text) <= room;
    Label_LastStatus->setText(fits ? text : fm.elidedText(text, Qt::ElideRight, room));
    Label_LastStatus->setToolTip(fits ? QString() : text);
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
