#pragma once
// TMB: the serial link component. A group box that carries its own operator
// panel (port list, Open/Close, lamps, counters, speed and its graph, current
// request, last status, rate) on top of the link without widgets (TMBLink:
// the engine with its port and the port steps, MBLink.h).
//
// The panel's logic lives in MBPanel*.cpp; its texts and the speed graph are
// plain functions in MBPanelView.h.
#include "MBLink.h"
#include "MBListPorts.h"
#include "MBPanelView.h"
#include "MBPort.h"
#include "MBTypes.h"

#include <QFont>
#include <QGroupBox>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QToolButton;

using TPortOpenedOrClosed = std::function<void(bool MBbPortOpen)>;
// Asked before an open port is closed by the Open/Close button or MBClose
// (not after a hang-up, when the device is gone): false keeps the port open
// for now, and the handler closes it later with MBClose.
using TMBBeforeClose = std::function<bool()>;
// Fills a list with the ports that can be opened now (MBListPorts by default).
using TMBPortLister = std::function<void(QStringList* list)>;

class TMB : public QGroupBox, public TMBLink {
    Q_OBJECT
    Q_PROPERTY(QString Port READ Port WRITE setPort)
    Q_PROPERTY(TMBBaud MBBaud READ MBBaud WRITE setMBBaud)
    Q_PROPERTY(uint WinQSizeIn READ WinQSizeIn WRITE setWinQSizeIn)
    Q_PROPERTY(uint WinQSizeOut READ WinQSizeOut WRITE setWinQSizeOut)
    Q_PROPERTY(bool MBPortOpen READ MBPortOpen)
    Q_PROPERTY(QString MBLastUsedPort READ MBLastUsedPort WRITE setMBLastUsedPort)
    Q_PROPERTY(bool MBThereWasOpenEvent READ MBThereWasOpenEvent WRITE setMBThereWasOpenEvent)
    Q_PROPERTY(bool MBRefreshListOnStartup READ MBRefreshListOnStartup WRITE setMBRefreshListOnStartup)
    Q_PROPERTY(bool MBBaudEditVisible READ MBBaudEditVisible WRITE setMBBaudEditVisible)

public:
    // The component as the main window places it: the system's serial ports
    // and QTimer.
    explicit TMB(QWidget* parent = nullptr);
    // With another clock and port (tests, the in-process simulator). `timers`
    // must outlive the component; a null port uses the system's port.
    TMB(QWidget* parent, TMBTimerFactory* timers, std::unique_ptr<TMBPort> port);
    // Closes an open port silently: no close steps, no events.
    ~TMB() override;

    // ---- published properties -------------------------------------------------
    using TMBLink::Port;
    using TMBLink::setPort;
    using TMBEngine::MBBaud;
    using TMBEngine::setMBBaud;
    uint WinQSizeIn() const { return FWinQSizeIn; }
    void setWinQSizeIn(uint n) { FWinQSizeIn = n; }
    uint WinQSizeOut() const { return FWinQSizeOut; }
    void setWinQSizeOut(uint n) { FWinQSizeOut = n; }
    using TMBEngine::MBPortOpen;
    const QString& MBLastUsedPort() const { return FLastUsedPort; }
    void setMBLastUsedPort(const QString& port) { FLastUsedPort = port; }
    bool MBThereWasOpenEvent() const { return FThereWasOpenEvent; }
    void setMBThereWasOpenEvent(bool v) { FThereWasOpenEvent = v; }
    bool MBRefreshListOnStartup() const { return FRefreshListOnStartup; }
    void setMBRefreshListOnStartup(bool v) { FRefreshListOnStartup = v; }
    bool MBBaudEditVisible() const { return FBaudEditVisible; }
    void setMBBaudEditVisible(bool v);

    // Raised after the Open/Close action when MBPortOpen changed.
    TPortOpenedOrClosed OnMBPortOpenedOrClosed;
    // See TMBBeforeClose: lets the application end what it asked of the
    // device (its last request) before the port goes.
    TMBBeforeClose OnMBBeforeClose;

    // ---- port operations ------------------------------------------------------
    void MBRefreshPortList();
    void MBPortListClick();
    // Runs the open sequence when the Open/Close button is down, the close
    // sequence when it is up.
    void MBOpenCloseToggle();
    // If open: releases the button and runs the close sequence (with events).
    void MBClose();
    // Opens `port` as the user would: chosen in the list (by its whole name
    // or its device name; a port the list does not show is added when it
    // can be opened), then Open pressed. False, with the reason in `why`,
    // when it is not there or the link is open already; an open that fails
    // shows as the user's would.
    bool MBOpenListedPort(const QString& port, QString* why = nullptr);
    void MBBaudListClick();

    // ---- seams ------------------------------------------------------------------
    // Replaces the port probing of the list refresh.
    void MBSetPortLister(TMBPortLister lister);
    // Where the stable names of USB serial ports are (/dev/serial/by-id): a
    // port lost to a hang-up is known again by its name there.
    void MBSetSerialIdFolder(const QString& folder) { FSerialIdFolder = folder; }

    // ---- display (also called by the link's logic) ---------------------------------
    void MBClearCounters() override;
    using TMBEngine::MBSecondTick;
    void MBDeferredStart() override;
    void MBUpdateView() override;
    void MBShowSpeed() override;
    void MBDrawSpeedGraph() override;
    void MBShowCounters() override;
    void MBShowTry(int n) override;
    void MBSetTryDisplay(bool shown) override;
    void MBLightTLamp() override;
    void MBTLampOff() override;
    void MBLightRLamp() override;
    void MBResetLamps() override;
    void MBShowCurrentRequest(std::uint8_t address, std::uint8_t command) override;
    void MBPushHistory();
    void MBClearHistory() override;
    void MBShowSentCount() override;
    void MBShowReceivedCount() override;
    void MBShowTID(const std::string& text) override;
    void MBShowRID(const std::string& text) override;
    void MBShowBaud() override;
    void MBShowLastStatus() override;
    void MBShowCaption() override;
    // Draws the empty graph frame into one of the two graph images.
    void MBClearGraph(QLabel* image);

    // The button-face colour of the panel (lamps off, neutral status).
    QColor MBFaceColor() const { return FFace; }
    const mbpanel::TMBSpeedGraph& MBSpeedSamples() const { return FGraph; }
    const QImage& MBGraphBuffer() const { return FGraphBuffer; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // The device is gone or its queue will not take the frame: close as the
    // user would and list what is left.
    void MBDeviceLost() override;

private:
    void BuildPanel();
    void OpenSequence();
    void CloseSequence();
    // The panel's part of the close steps, after the link's: the list and
    // "Ref" usable, the request line into the history, the caption "Open".
    void ShowClosed();
    // The port list's tooltip: the ports left out of it and why.
    void ShowLeftOutPorts();
    void SetBackground(QWidget* w, const QColor& c);
    void SetIndicator(const QColor& c);
    void ShowRequestLabels();

    // Controls, named as their objectName.
    QLabel* Label_TLamp = nullptr;
    QLabel* Label_TID = nullptr;
    QLabel* Label_TDataCount = nullptr;
    QLabel* Label_TFrames = nullptr;
    QLabel* Label_RLamp = nullptr;
    QLabel* Label_RID = nullptr;
    QLabel* Label_RDataCount = nullptr;
    QLabel* Label_RFrames = nullptr;
    QLabel* Label_Speed = nullptr;
    QLabel* Label_Try = nullptr;
    QListWidget* ListBox_Ports = nullptr;
    QFrame* Panel_OpenPort = nullptr;
    QLabel* Label_OpenPortName = nullptr;
    QLabel* Label_CurrentRequest = nullptr;
    QLabel* Image_SpeedGraph = nullptr;
    QLabel* Image_SpeedGraphBuffer = nullptr;
    QFrame* Shape_PortIndicator = nullptr;
    QToolButton* SpeedButton_OpenClose = nullptr;
    QPushButton* Button_Ref = nullptr;
    QPushButton* Button_ClearCounters = nullptr;
    QLabel* Label_LastStatus = nullptr;
    QLabel* Label_Baud = nullptr;
    QComboBox* ComboBox_Baud = nullptr;
    QLabel* Label_RequestHistory = nullptr;

    std::unique_ptr<TMBTimer> FTLampTimer;
    std::unique_ptr<TMBTimer> FRLampTimer;

    TMBPortLister FPortLister;
    bool FRefreshing = false;

    uint FWinQSizeIn = 8192;
    uint FWinQSizeOut = 8192;
    QString FLastUsedPort;
    bool FThereWasOpenEvent = false;
    bool FRefreshListOnStartup = true;
    bool FBaudEditVisible = true;
    QList<mb::TLeftOutPort> FLeftOut; // filled by the default lister
    // The remembered port was lost to a hang-up: kept until it comes back or
    // another is chosen; FLastUsedSerialId is its /dev/serial/by-id name.
    bool FKeepLastUsedPort = false;
    bool FHangingUp = false; // the close of a lost device asks nobody
    QString FLastUsedSerialId;
    QString FPortSerialId; // of the open port
    QString FSerialIdFolder = QStringLiteral("/dev/serial/by-id");
    bool FTLampLit = false;
    // What the last-status line shows, and for which width and font: each
    // transaction sets the status, mostly to what is shown already, and
    // measuring the text costs more than the rest of the line's work.
    QString FShownStatus;
    int FShownStatusRoom = -1;
    QFont FShownStatusFont;

    QColor FFace;
    mbpanel::TMBRequestLine FRequest;
    mbpanel::TMBSpeedGraph FGraph;
    QImage FGraphBuffer;
};
