// The master transactions of the link, its statuses, counters and timers.
// The other modes (slaves, monitor, byte and string pipes) are in MBModes.cpp.
#include "MBEngine.h"

#include "NumberPicture.h"
#include "Rounding.h"

namespace mb {

const char* StatusText(TMBStatus status) {
    switch (status) {
    case stOK: return "OK";
    case stSlaveError: return "Slave Error";
    case stTimeOut: return "Time Out";
    case stClosedPort: return "Closed Port";
    }
    return "";
}

std::string StatusText(TMBStatus status, int errorCode) {
    if (status != stSlaveError)
        return StatusText(status);
    if (errorCode == 254)
        return "Unknown Command";
    if (errorCode == 255)
        return "ID Error";
    return "Slave Error: #" + std::to_string(errorCode);
}

const char* StatusNowText(TMBStatusNow state) {
    switch (state) {
    case stnReady: return "Ready";
    case stnSending: return "Sending";
    case stnWaitingForAnswer: return "Waiting For Answer";
    case stnReceiving: return "Receiving";
    case stnPortError: return "Port Error";
    case stnTimeOut: return "Time Out";
    case stnWaitingForCommand: return "Waiting For Command";
    case stnReceivedCommand: return "Received Command";
    }
    return "";
}

} // namespace mb

TMBEngine::TMBEngine(TMBTimerFactory* timers) : FTimers(timers) {
    if (!FTimers) {
        FOwnTimers = std::make_unique<TMBQtTimerFactory>();
        FTimers = FOwnTimers.get();
    }
    FStartDelayTimer = FTimers->createTimer(0, true, [this] { StartDelayElapsed(); });
    FAnswerTimer = FTimers->createTimer(0, true, [this] { AnswerTimerElapsed(); });
    FSecondTimer = FTimers->createTimer(1000, false, [this] {
        if (FDeferredStartPending) {
            FDeferredStartPending = false;
            MBDeferredStart();
        } else {
            MBSecondTick();
        }
    });
    FUserTimer = FTimers->createTimer(1000, true, [this] {
        if (auto h = OnMBUserTimeOut)
            h();
    });
    FSecondTimer->start();
}

TMBEngine::~TMBEngine() = default;

// ---- statuses ---------------------------------------------------------------------

void TMBEngine::MBSetStatus(TMBStatus status, int errorCode) {
    FStatus = status;
    FStatusString = mb::StatusText(status, errorCode);
    MBShowLastStatus();
}

void TMBEngine::MBSetStatusNow(TMBStatusNow state) {
    if (state == FStatusNow)
        return;
    FStatusNow = state;
    FStatusNowString = mb::StatusNowText(state);
    if (auto h = OnMBStatusNowChanged)
        h(FStatusNow, std::string(FStatusNowString));
}

void TMBEngine::MBSetBusy(bool busy) {
    if (busy == FBusy)
        return;
    FBusy = busy;
    if (auto h = OnMBBusyChanged)
        h(busy);
}

void TMBEngine::RaiseEnd() {
    FEndRaised = true; // before the handler, which may start the next request
    // Copies: the handler usually starts the next request, which may change
    // both the status and the handler itself.
    if (auto h = OnMBMasterEndOfEvent)
        h(FStatus, std::string(FStatusString));
}

void TMBEngine::EndWithClosedPort() {
    MBSetBusy(true);
    MBSetStatus(stClosedPort);
    // A port that closed while the frame was being written (the device went
    // away under the write) has reported this transaction's end already.
    if (!FEndRaised)
        RaiseEnd();
}

void TMBEngine::EndWithoutAnswer(bool clearRID) {
    MBSetBusy(false);
    MBSetStatusNow(stnReady);
    MBSetStatus(stOK);
    if (clearRID)
        MBShowRID("---");
    RaiseEnd();
}

void TMBEngine::SetTry(int n) {
    FMasterTryNumber = static_cast<std::uint8_t>(n);
    if (FMasterTryNumber > FMasterTryNumberMax)
        FMasterTryNumberMax = FMasterTryNumber;
    MBShowTry(n);
}

void TMBEngine::ResetLampsAndTry() {
    FMasterTryNumberMax = 0;
    MBResetLamps();
    MBShowTry(0);
}

void TMBEngine::CountTx(std::uint32_t n) {
    FNumberOfTxFrames += n;
    MBShowCounters();
}

void TMBEngine::setMBBaud(TMBBaud baud) {
    FBaudRate = mb::BaudToRate(baud);
    MBShowBaud();
}

void TMBEngine::MBStartUserTimer(int ms) { FUserTimer->start(ms); }
void TMBEngine::MBStopUserTimer() { FUserTimer->stop(); }
bool TMBEngine::MBUserTimerActive() const { return FUserTimer->isActive(); }

// ---- starting -------------------------------------------------------------------------

void TMBEngine::MBStartQuery(std::uint16_t delayMs) {
    FStartDelayTimer->stop();
    if (delayMs == 0)
        MBStartTransaction();
    else
        FStartDelayTimer->start(delayMs);
}

bool TMBEngine::MBQueryPending() const { return FStartDelayTimer->isActive(); }

void TMBEngine::StartDelayElapsed() {
    FStartDelayTimer->stop();
    // In the slave modes the same timer holds back the answer. Elsewhere a
    // delayed start sends like an immediate one, so that a caller waiting for
    // the end event is never left without it.
    if (MBMode() == modeSlave || MBMode() == modeASCIISlave)
        MBSendSlaveAnswer();
    else
        MBStartTransaction();
}

void TMBEngine::MBStartTransaction() {
    FEndRaised = false;
    switch (MBMode()) {
    case modeMaster:
    case modeASCIIMaster: StartMasterTransaction(); break;
    case modeDiagnostic: StartDiagnosticSend(); break;
    case modeByte:
    case modeString: StartUnframedSend(); break;
    case modeSlave:
    case modeASCIISlave: MBSendSlaveAnswer(); break;
    }
}

void TMBEngine::MBCalcTimeOfSending() {
    // Ten bits a character, two wire characters a frame byte, five bytes of
    // header and CRC besides the data; one millisecond on top.
    const double r = (MBDataNumberToSend() + 5) * (1.0 / MBBaudRate()) * 10 * 2 * 1000;
    FCalculatedTimeOfSending = static_cast<std::uint32_t>(kv::RoundHalfEven(r) + 1);
}

void TMBEngine::StartMasterTransaction() {
    FAnswerTimer->stop();
    MBSetBusy(true);
    FSendingTry = 1;
    if (!MBSendFrame()) {
        EndWithClosedPort();
        return;
    }
    MBSetStatusNow(stnSending);
    CountTx(1);
    SetTry(1);
    if (MBMode() == modeASCIIMaster)
        MBShowCurrentRequest(MBMasterAddressToSlave(), MBMasterCommandToSlave());
    if (MBMasterAddressToSlave() == 0) { // broadcast: nobody answers
        EndWithoutAnswer(true);
        return;
    }
    MBSetStatusNow(stnWaitingForAnswer);
    MBCalcTimeOfSending();
    FAnswerTimer->start(static_cast<int>(FCalculatedTimeOfSending + FMasterTimeOut));
    MBClearAssembly();
}

// ---- waiting ---------------------------------------------------------------------------

void TMBEngine::AnswerTimerElapsed() {
    FAnswerTimer->stop();
    switch (MBMode()) {
    case modeMaster:
    case modeASCIIMaster:
        MBTryTimedOut(FMasterTryNumber);
        if (FMasterTryNumber < FMasterMaxTryNumber) {
            MasterRetry();
            return;
        }
        MBSetStatusNow(stnTimeOut);
        MBSetBusy(false);
        MBSetStatus(stTimeOut);
        MBShowRID("---");
        RaiseEnd();
        return;
    case modeASCIISlave:
        MBSetStatusNow(stnTimeOut);
        MBSetStatus(stTimeOut);
        if (auto h = OnMBASCIISlaveTimeOut)
            h();
        return;
    default:
        return;
    }
}

void TMBEngine::MasterRetry() {
    SetTry(FMasterTryNumber + 1);
    FSendingTry = FMasterTryNumber;
    if (!MBSendFrame()) {
        // As at the first send: the caller learns that the transaction ended.
        EndWithClosedPort();
        return;
    }
    MBSetStatusNow(stnSending);
    FAnswerTimer->start(static_cast<int>(FCalculatedTimeOfSending + FMasterTimeOut));
    MBSetStatusNow(stnWaitingForAnswer);
}

// ---- receiving ---------------------------------------------------------------------------

void TMBEngine::MBSendRefused() { MBSetStatusNow(stnPortError); }

void TMBEngine::MBSendFailed() {
    MBTLampOff();
    MBSetStatusNow(stnPortError);
    MBSetStatus(stClosedPort);
    MBSetBusy(true);
}

void TMBEngine::MBReceiverWasReset() {
    switch (MBMode()) {
    case modeMaster:
    case modeASCIIMaster: MBSetStatusNow(stnWaitingForAnswer); break;
    case modeSlave:
    case modeASCIISlave: MBSetStatusNow(stnWaitingForCommand); break;
    default: break;
    }
}

void TMBEngine::MBBinaryFrameStarted() { MBSetStatusNow(stnReceiving); }

void TMBEngine::MBFrameAccepted() {
    switch (MBMode()) {
    case modeMaster:
    case modeASCIIMaster: AcceptMasterAnswer(); break;
    case modeSlave: AcceptBinarySlaveRequest(); break;
    case modeASCIISlave: AcceptASCIISlaveRequest(); break;
    case modeDiagnostic: AcceptDiagnosticFrame(); break;
    default: break;
    }
}

void TMBEngine::AcceptMasterAnswer() {
    MBLightRLamp();
    FAnswerTimer->stop();
    const std::uint8_t* a = MBAnswerBytes();
    if (MBMode() == modeASCIIMaster) {
        ++FNumberOfRxFrames;
        ++FFramesThisSecond;
        MBShowCounters();
        int code = a[3];
        if (MBMasterIDToSlave() != 0 && MBMasterIDToSlave() != a[1]) {
            code = 255;
            MBSetAnswerByte(3, 255);
        }
        if (code >= 254)
            MBSetStatus(stSlaveError, code);
        else
            MBSetStatus(stOK);
        MBSetStatusNow(stnReady);
        MBSetBusy(false);
        MBShowRID(kv::FormatPicture(a[1], "000"));
    } else {
        const int code = a[2];
        if (code <= 128) {
            ++FNumberOfRxFrames;
            ++FFramesThisSecond;
            MBShowCounters();
            MBSetStatus(stOK);
        } else {
            MBSetStatus(stSlaveError, code);
        }
        MBSetStatusNow(stnReady);
        MBSetBusy(false);
    }
    RaiseEnd();
}

// ---- port, counters, speed -------------------------------------------------------------------

void TMBEngine::MBEnginePortOpened(bool restartSecondTimer) {
    const TMBMode m = MBMode();
    if (m == modeSlave || m == modeASCIISlave) {
        MBSetStatusNow(stnWaitingForCommand);
        MBResetReceiver();
    } else {
        MBSetStatusNow(stnReady);
    }
    MBSetBusy(!(m == modeMaster || m == modeASCIIMaster || m == modeByte || m == modeString));
    if (m == modeASCIISlave)
        RestartSlaveTimer();
    setMBPortOpen(true);
    MBSetStatus(stOK);
    FEndRaised = false;
    if (restartSecondTimer)
        MBRestartSecondTimer();
}

void TMBEngine::MBEnginePortClosed() {
    FAnswerTimer->stop();
    const bool wasBusy = FBusy;
    setMBPortOpen(false);
    ResetLampsAndTry();
    MBSetBusy(true);
    MBSetStatusNow(stnPortError);
    MBSetStatus(stClosedPort);
    MBShowSpeed();
    MBUpdateView();
    // A transaction whose send failed has ended with Closed Port already: it
    // is reported once, not again by the close that follows.
    if (IsMasterMode() && wasBusy && !FEndRaised)
        RaiseEnd();
}

void TMBEngine::MBRestartSecondTimer() {
    FFramesThisSecond = 0;
    FSecondTimer->start(1000);
}

void TMBEngine::MBSecondTick() {
    FSpeed = MBPortOpen() ? FFramesThisSecond : 0;
    FFramesThisSecond = 0;
    if (MBPortOpen()) {
        if (FSpeed < FLowestSpeed)
            FLowestSpeed = FSpeed;
        if (FSpeed > FSpeedMax)
            FSpeedMax = FSpeed;
    }
    MBShowSpeed();
    if (MBPortOpen())
        MBDrawSpeedGraph();
}

void TMBEngine::MBDeferredStart() {
    MBClearCounters();
    setMBMode(MBMode());
}

void TMBEngine::MBClearCounters() {
    FMasterTryNumberMax = 0;
    MBShowTry(0);
    FNumberOfTxFrames = 0;
    FNumberOfRxFrames = 0;
    MBShowCounters();
    ResetLampsAndTry();
    FLowestSpeed = FSpeed;
    FSpeedMax = FSpeed;
    MBShowSpeed();
    MBRestartSecondTimer();
    MBClearHistory();
}
