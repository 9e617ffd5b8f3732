#pragma once
// TMBEngine: the link's transactions, modes, counters and statuses, on top of
// the frame core. Plain C++: it is driven by received chunks
// (MBParseReceived), by its timers (through the TMBTimerFactory seam) and by
// the application's calls, and it writes through MBWriteToPort.
//
// For the panel (class TMB : public QGroupBox, public TMBEngine):
//  - Port: override MBWriteToPort (one piece, false when it cannot be
//    written; or gather the pieces and write them in MBFlushFrame). The open
//    sequence calls MBEnginePortOpened(false) in its step 1 and
//    MBRestartSecondTimer() in its step 4, once the device has opened; the close steps call
//    MBEnginePortClosed(); a failed open runs the close steps too.
//    MBPortOpen() is engine state; MBEnginePortOpened/Closed set it.
//  - Display hooks (protected virtual, no-op by default), called where the
//    link's logic shows something; the data they show are engine getters:
//      MBLightTLamp, MBTLampOff, MBLightRLamp       lamps (50 ms each)
//      MBResetLamps       T and R off, last-status background neutral, and the
//                         port indicator neutral when the port is closed (the
//                         engine has zeroed MBMasterTryNumberMax before and
//                         calls MBShowTry(0) right after)
//      MBShowTID(text), MBShowRID(text)   T and R ID lines ("000" or "---")
//      MBShowSentCount    MBDataNumberToSend     MBShowReceivedCount  MBReceivedDataNumber
//      MBShowCounters     MBNumberOfTxFrames, MBNumberOfRxFrames, MBCounterUnit
//      MBShowTry(n)       "n/" MBMasterTryNumberMax (already raised to n)
//      MBSetTryDisplay(f) MBTryDisplay(): whether the mode shows the try label
//      MBShowLastStatus   "Last status: " MBStatusString, colour by MBStatus
//      MBShowCaption      MBCaption() and the units after a mode assignment
//      MBShowCurrentRequest(address, command)   current request line
//      MBClearHistory     (from MBClearCounters)
//      MBShowSpeed        MBSpeed, MBSpeedUnit, MBLowestSpeed, MBSpeedMax
//                         (already updated)
//      MBDrawSpeedGraph   MBSpeed (a second tick while open)
//      MBUpdateView       (close steps)
//      MBShowBaud         MBBaud was assigned (select the rate, write its text)
//      MBTryTimedOut(n)   try n of a master transaction got no answer in time
//  - MBDeferredStart: the first tick of the one-second timer. The default
//    runs the engine's part (MBClearCounters, MBMode assigned again); an
//    override does the panel's start-up and calls TMBEngine::MBDeferredStart
//    at its end.
//  - MBClearCounters is virtual: an override adds the speed samples and the
//    graph and calls the base.
//  - MBTimers(): the factory, for the panel's own (lamp) timers.
#include "MBFrames.h"
#include "MBTimer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

using TMasterEvent = std::function<void(TMBStatus MBStatus, const std::string& MBStatusString)>;
using TStatusNowChanged = std::function<void(TMBStatusNow MBStatusNow, const std::string& MBStatusNowString)>;
using TOnMBBusyChanged = std::function<void(bool MBbBusy)>;
using TOnMBUserTimeOut = std::function<void()>;
using TOnMBSlaveReceivedCommand =
    std::function<void(std::uint8_t Command, bool QueryMode, std::uint16_t ReceivedDataNumber)>;
using TOnMBASCIISlaveTimeOut = std::function<void()>;
using TOnMBDiagnosticReceivedAFrame = std::function<void(std::uint16_t ReceivedDataNumber)>;
using TOnMBReceivedAByte = std::function<void(std::uint16_t ReceivedBytesNumber)>;
using TOnMBReceivedAString = std::function<void(const std::string& ReceivedString)>;

namespace mb {
// The component's version: 2016, 10, 11, shown as "v2016.10.11." and returned
// by the slaves' version requests.
inline constexpr std::uint16_t kVersionYear = 2016;
inline constexpr std::uint8_t kVersionMonth = 10;
inline constexpr std::uint8_t kVersionDay = 11;
inline constexpr const char* kVersionText = "v2016.10.11.";

const char* StatusText(TMBStatus status); // without the code of stSlaveError
std::string StatusText(TMBStatus status, int errorCode);
const char* StatusNowText(TMBStatusNow state);
} // namespace mb

class TMBEngine : public TMBFrameCore {
public:
    // timers: the factory of every timer of the link (it must outlive the
    // engine); nullptr uses QTimer.
    explicit TMBEngine(TMBTimerFactory* timers = nullptr);
    ~TMBEngine() override;

    // ---- transactions -------------------------------------------------------
    void MBStartQuery(std::uint16_t delayMs);
    void MBStartTransaction();
    void MBCalcTimeOfSending();
    void MBSetStatus(TMBStatus status, int errorCode = 0);
    void MBSetStatusNow(TMBStatusNow state);
    void MBSetBusy(bool busy);
    virtual void MBClearCounters();
    void MBSendSlaveAnswer();
    // True from a delayed MBStartQuery until its frame goes out (or a new
    // start replaces it): an end event raised meanwhile belongs to an earlier
    // request, since the awaited one has not been sent yet.
    bool MBQueryPending() const;
    // The try that the master frame being written belongs to (1 for the
    // first send of a transaction). MBMasterTryNumber is raised only after
    // the first send, for the try display.
    std::uint8_t MBSendingTry() const { return FSendingTry; }

    // ---- properties -------------------------------------------------------
    void setMBMode(TMBMode mode) override;

    std::uint16_t MBMasterTimeOut() const { return FMasterTimeOut; }
    void setMBMasterTimeOut(std::uint16_t ms) { FMasterTimeOut = ms; }
    std::uint8_t MBMasterMaxTryNumber() const { return FMasterMaxTryNumber; }
    void setMBMasterMaxTryNumber(std::uint8_t n) { FMasterMaxTryNumber = n == 0 ? 1 : (n > 5 ? 5 : n); }
    std::uint8_t MBMasterTryNumber() const { return FMasterTryNumber; }
    std::uint8_t MBMasterTryNumberMax() const { return FMasterTryNumberMax; }
    // Milliseconds; wider than a Word so that a long frame at a low rate is
    // not given a time-out shorter than its own sending time.
    std::uint32_t MBCalculatedTimeOfSending() const { return FCalculatedTimeOfSending; }

    TMBStatus MBStatus() const { return FStatus; }
    const std::string& MBStatusString() const { return FStatusString; }
    TMBStatusNow MBStatusNow() const { return FStatusNow; }
    const std::string& MBStatusNowString() const { return FStatusNowString; }
    bool MBBusy() const { return FBusy; }

    std::uint32_t MBNumberOfTxFrames() const { return FNumberOfTxFrames; }
    std::uint32_t MBNumberOfRxFrames() const { return FNumberOfRxFrames; }
    std::uint32_t MBSpeed() const { return FSpeed; }
    std::uint32_t MBSpeedMax() const { return FSpeedMax; }
    std::uint32_t MBLowestSpeed() const { return FLowestSpeed; }
    std::uint32_t MBFramesThisSecond() const { return FFramesThisSecond; }

    std::uint16_t MBReminder() const { return FReminder; }
    void setMBReminder(std::uint16_t v) { FReminder = v; }

    TMBBaud MBBaud() const { return mb::RateToBaud(FBaudRate); }
    std::uint32_t MBBaudRate() const { return FBaudRate; }
    // A value outside TMBBaud selects 9600.
    void setMBBaud(TMBBaud baud);

    const std::string& MBSlaveName() const { return FSlaveName; }
    void setMBSlaveName(const std::string& name) { FSlaveName = name; }
    std::uint16_t MBSlaveDelayTime() const { return FSlaveDelayTime; }
    void setMBSlaveDelayTime(std::uint16_t ms) { FSlaveDelayTime = ms; }
    std::uint16_t MBASCIISlaveTimeOut() const { return FASCIISlaveTimeOut; }
    void setMBASCIISlaveTimeOut(std::uint16_t ms) { FASCIISlaveTimeOut = ms; }
    std::uint8_t MBStopByteInStringMode() const { return FStopByteInStringMode; }
    void setMBStopByteInStringMode(std::uint8_t b) { FStopByteInStringMode = b; }

    // The user timer: created stopped, 1000 ms, one-shot; raises
    // OnMBUserTimeOut. The application arms it when it wants the event.
    void MBStartUserTimer(int ms = 1000);
    void MBStopUserTimer();
    bool MBUserTimerActive() const;

    // ---- what the panel shows ---------------------------------------------
    const std::string& MBCaptionPrefix() const { return FCaptionPrefix; }
    std::string MBCaption() const { return FCaptionPrefix + mb::kVersionText; }
    const std::string& MBCounterUnit() const { return FCounterUnit; }
    const std::string& MBSpeedUnit() const { return FSpeedUnit; }
    bool MBTryDisplay() const { return FTryDisplay; }
    bool MBDeferredStartPending() const { return FDeferredStartPending; }

    // ---- events -------------------------------------------------------------
    TMasterEvent OnMBMasterEndOfEvent;
    TStatusNowChanged OnMBStatusNowChanged;
    TOnMBBusyChanged OnMBBusyChanged;
    TOnMBUserTimeOut OnMBUserTimeOut;
    TOnMBSlaveReceivedCommand OnMBSlaveReceivedCommand;
    TOnMBASCIISlaveTimeOut OnMBASCIISlaveTimeOut;
    TOnMBDiagnosticReceivedAFrame OnMBDiagnosticReceivedAFrame;
    TOnMBReceivedAByte OnMBReceivedAByte;
    TOnMBReceivedAString OnMBReceivedAString;

protected:
    // ---- port sequences (the panel's open and close) ------------------------
    // restartSecondTimer false: the caller restarts it once the device has
    // opened (the panel's open sequence, whose failure leaves it running).
    void MBEnginePortOpened(bool restartSecondTimer = true);
    void MBEnginePortClosed();
    void MBRestartSecondTimer();

    // ---- ticks of the one-second timer ---------------------------------------------
    void MBSecondTick();
    virtual void MBDeferredStart();

    // ---- display hooks --------------------------------------------------------
    virtual void MBTLampOff() {}
    virtual void MBLightRLamp() {}
    virtual void MBResetLamps() {}
    virtual void MBShowRID(const std::string& /*text*/) {}
    virtual void MBShowCounters() {}
    virtual void MBShowTry(int /*n*/) {}
    virtual void MBSetTryDisplay(bool /*shown*/) {}
    virtual void MBShowLastStatus() {}
    virtual void MBShowCaption() {}
    virtual void MBShowCurrentRequest(std::uint8_t /*address*/, std::uint8_t /*command*/) {}
    virtual void MBClearHistory() {}
    virtual void MBShowSpeed() {}
    virtual void MBDrawSpeedGraph() {}
    virtual void MBUpdateView() {}
    virtual void MBShowBaud() {}
    // A master try got no answer within its time (before its retry or the
    // end with stTimeOut).
    virtual void MBTryTimedOut(int /*tryNumber*/) {}

    TMBTimerFactory& MBTimers() { return *FTimers; }
    // The engine's timers, for tests and the panel's own checks.
    const TMBTimer& MBStartDelayTimer() const { return *FStartDelayTimer; }
    const TMBTimer& MBAnswerTimer() const { return *FAnswerTimer; }
    const TMBTimer& MBSecondTimer() const { return *FSecondTimer; }

    // ---- frame core outcomes (the engine's; not for further overriding) ------
    void MBSendRefused() final;
    void MBSendFailed() final;
    void MBReceiverWasReset() final;
    void MBBinaryFrameStarted() final;
    void MBFrameAccepted() final;
    std::size_t MBReceiveUnframed(const std::uint8_t* data, std::size_t n) final;

private:
    bool IsMasterMode() const { return MBMode() == modeMaster || MBMode() == modeASCIIMaster; }
    void RaiseEnd();
    // busy, status Closed Port, end event: a send that could not be made.
    void EndWithClosedPort();
    // not busy, Ready, OK, end event: a send that awaits no answer.
    void EndWithoutAnswer(bool clearRID);
    void SetTry(int n);
    void ResetLampsAndTry();
    void CountTx(std::uint32_t n);
    void StartMasterTransaction();
    void StartDiagnosticSend();
    void StartUnframedSend();
    void StartDelayElapsed();
    void AnswerTimerElapsed();
    void MasterRetry();
    void RestartSlaveTimer();
    void AcceptMasterAnswer();
    void AcceptBinarySlaveRequest();
    void AcceptASCIISlaveRequest();
    void AcceptDiagnosticFrame();
    void AnswerSlaveRequest(bool broadcast);
    void PutVersionBlock();

    TMBTimerFactory* FTimers;
    std::unique_ptr<TMBTimerFactory> FOwnTimers;
    std::unique_ptr<TMBTimer> FStartDelayTimer;
    std::unique_ptr<TMBTimer> FAnswerTimer;
    std::unique_ptr<TMBTimer> FSecondTimer;
    std::unique_ptr<TMBTimer> FUserTimer;

    std::uint16_t FMasterTimeOut = 1000;
    std::uint8_t FMasterMaxTryNumber = 5;
    std::uint8_t FMasterTryNumber = 0;
    std::uint8_t FMasterTryNumberMax = 0;
    std::uint8_t FSendingTry = 0;
    std::uint32_t FCalculatedTimeOfSending = 0;

    TMBStatus FStatus = stOK;
    std::string FStatusString = "OK";
    TMBStatusNow FStatusNow = stnPortError;
    std::string FStatusNowString = "Port Error";
    bool FBusy = true;
    // The end event of the transaction under way has been raised (a close
    // then owes none); cleared by every start and at open.
    bool FEndRaised = false;

    std::uint32_t FNumberOfTxFrames = 0;
    std::uint32_t FNumberOfRxFrames = 0;
    std::uint32_t FSpeed = 0;
    std::uint32_t FSpeedMax = 0;
    std::uint32_t FLowestSpeed = 0;
    std::uint32_t FFramesThisSecond = 0;
    std::uint16_t FReminder = 0;
    std::uint32_t FBaudRate = 115200;

    std::string FSlaveName = "MB Slave";
    std::uint16_t FSlaveDelayTime = 0;
    std::uint16_t FASCIISlaveTimeOut = 1000;
    std::uint8_t FStopByteInStringMode = 0;
    bool FStringArmed = false;

    std::string FCaptionPrefix = "ASCII Master ";
    std::string FCounterUnit = " F";
    std::string FSpeedUnit = " frames / sec";
    bool FTryDisplay = true;
    bool FDeferredStartPending = true;
};
