#pragma once
// TMBLink: the link without widgets. The engine (frames, transactions, modes;
// MBEngine.h) with its port and the port steps. The window's TMB is this
// link with its panel on top; kvctl uses it as it is.
//
//  - Open and close: MBOpenLink(port) is the whole open of a program without
//    a panel (the engine's open state, the device opened exclusively at
//    MBBaud, the one-second timer restarted); MBCloseLink() the whole close
//    (a transaction under way ends with stClosedPort, then the device is
//    released). The panel's sequences call the same steps with its display
//    between them: MBOpenPort (throws EComError) and MBClosePort are the
//    device alone.
//  - Writing: the pieces of a frame are gathered and handed to the port in
//    one write. A write the port does not take whole (an error, a hang-up,
//    a queue that does not drain in the frame's own sending time) means the
//    device is gone, and the link is closed there and then: the transaction
//    ends once, with stClosedPort and the port closed.
//  - Receiving: the port says, on this thread, how many bytes wait;
//    MBReceiveChunk reads them and hands them to the mode's receiver.
//  - Modem lines: the port reads them only while a line handler is set
//    (MBSetLineStateHandler). The link gives them no meaning, and on a USB
//    adapter each read is a control transfer.
//  - Device lost (a hang-up, or the short write above): handled once per
//    open, from the event loop for a hang-up (it may be noticed inside a
//    write or a receive). MBDeviceLost() closes (the panel closes as the user
//    would), then OnMBDeviceLost is raised. A late hang-up of an earlier open
//    is ignored.
//  - The wire observer (MBSetWireObserver) sees every byte written and read,
//    every try that got no answer in time, and the port's opening, hang-up
//    and failed writes as notes.
#include "MBEngine.h"
#include "MBPort.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

class QObject;

// A port that cannot be opened. The open sequences catch it.
class EComError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What goes over the wire, as the link hands it to the port and takes it
// from there.
class TMBWireObserver {
public:
    virtual ~TMBWireObserver() = default;
    // Bytes the port took: a whole frame, written by try `tryNumber` of its
    // master transaction (MBWriteText's bytes: try 0).
    virtual void Sent(std::string_view bytes, int tryNumber) = 0;
    // Bytes read from the port, before the receiver sees them.
    virtual void Received(std::string_view bytes) = 0;
    // Try `tryNumber` got no answer in time.
    virtual void TimedOut(int tryNumber) = 0;
    // The port opened, hung up, or did not take a frame.
    virtual void Note(const std::string& text) = 0;
};

// The device went away under the open port; the link is closed by then.
using TMBDeviceLost = std::function<void()>;

class TMBLink : public TMBEngine {
public:
    // timers: the factory of every timer of the link (it must outlive the
    // link), nullptr for QTimer; port: nullptr for the system's port.
    explicit TMBLink(TMBTimerFactory* timers = nullptr, std::unique_ptr<TMBPort> port = nullptr);
    // Releases an open device silently: no close steps, no events.
    ~TMBLink() override;
    TMBLink(const TMBLink&) = delete;
    TMBLink& operator=(const TMBLink&) = delete;

    // The device the link opens (the panel's published Port).
    const QString& Port() const { return FPort; }
    void setPort(const QString& port) { FPort = port; }

    // ---- the open and close of a program without a panel ---------------------
    // Port := `port`, then the engine's open state, the device at MBBaud and
    // the one-second timer. An open link is closed first. False when the
    // device does not open: the link is closed again without an event, and
    // MBLastOpenError (and MBPortDevice().ErrorText()) say why.
    bool MBOpenLink(const QString& port);
    // A transaction under way ends with stClosedPort; the device is released.
    // Harmless when closed.
    void MBCloseLink();

    // ---- the port steps -------------------------------------------------------
    // Opens Port at MBBaud and starts receiving (nothing when the device is
    // open already); throws EComError "TMB : cannot open " Port, CR, the
    // system's text.
    void MBOpenPort();
    // Stops receiving and releases the device.
    void MBClosePort();
    // Hands the bytes to the port in one write while the device is open.
    void MBWriteText(const QByteArray& bytes);
    // Reads the announced bytes and hands them to the mode's receiver.
    void MBReceiveChunk(qint64 waiting);
    // The message of the last EComError an open caught.
    const QString& MBLastOpenError() const { return FLastOpenError; }

    // ---- seams ------------------------------------------------------------------
    // Replaces the port (only while the device is closed; otherwise
    // ignored). Null: the system's port.
    void MBSetPortDevice(std::unique_ptr<TMBPort> port);
    TMBPort& MBPortDevice() { return *FDevice; }
    // CTS, DSR, carrier, ring and line errors go to `handler` (also from a
    // port handed in later); while none is set (the default) the port does
    // not read the modem lines at all.
    void MBSetLineStateHandler(TMBLineStateEvent handler);
    // Sees the wire from now on (null: nobody). Not owned; it must outlive
    // the link or be taken away first.
    void MBSetWireObserver(TMBWireObserver* observer) { FObserver = observer; }
    // The link's clock, for timers that keep its time.
    using TMBEngine::MBTimers;

    // Raised after the link closed because the device went away.
    TMBDeviceLost OnMBDeviceLost;

protected:
    // The device went away under the open link (once per open). The default
    // closes with MBCloseLink; the panel closes as the user would.
    virtual void MBDeviceLost();
    // Whether the device is open and receiving (the internal open flag).
    bool MBDeviceOpen() const { return FOpen; }
    // A frame's pieces are gathered and written to the port in one write.
    bool MBWriteToPort(const std::uint8_t* data, std::size_t n) override;
    bool MBFlushFrame() override;
    void MBTryTimedOut(int tryNumber) override;

private:
    void ConnectDevice();
    void DisconnectDevice();
    void HungUp(int session);
    void LoseDevice();

    std::unique_ptr<TMBPort> FDevice;
    std::unique_ptr<QObject> FContext; // receives the hang-up notices on this thread
    TMBWireObserver* FObserver = nullptr;
    TMBLineStateEvent FLineState; // kept for a port handed in later
    QString FPort = QStringLiteral("COM1");
    QString FLastOpenError;
    bool FOpen = false; // the device is open and receiving
    int FSession = 0;   // counts opens, so a late hang-up of an earlier one is ignored
    QByteArray FTxGather; // the pieces of the frame being sent
};
