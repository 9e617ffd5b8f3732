// The link modes besides the two masters: mode assignment, the binary and
// ASCII slaves, the frame monitor, and the byte and string pipes.
#include "MBEngine.h"

#include "NumberPicture.h"

namespace {

struct ModeLook {
    const char* prefix;
    bool tryDisplay;
    const char* counterUnit;
    const char* speedUnit;
};

ModeLook LookOf(TMBMode m) {
    switch (m) {
    case modeMaster: return {"Master ", true, " F", " frames / sec"};
    case modeSlave: return {"Slave ", false, " F", " frames / sec"};
    case modeASCIIMaster: return {"ASCII Master ", true, " F", " frames / sec"};
    case modeASCIISlave: return {"ASCII Slave ", false, " F", " frames / sec"};
    case modeDiagnostic: return {"Diagnostic ", false, " F", " frames / sec"};
    case modeByte: return {"Byte Mode ", false, " B", " Bytes / sec"};
    case modeString: return {"String Mode ", false, " S", " string / sec"};
    }
    return {"", false, "", ""};
}

} // namespace

void TMBEngine::setMBMode(TMBMode mode) {
    if (mode < modeMaster || mode > modeString)
        return;
    const TMBMode old = MBMode();
    TMBFrameCore::setMBMode(mode);
    const ModeLook look = LookOf(mode);
    // Built afresh rather than assigned over the old text: GCC 12 at -O2+
    // mistakes the in-place string assignment for an overlapping copy.
    FCaptionPrefix = std::string(look.prefix);
    FCounterUnit = std::string(look.counterUnit);
    FSpeedUnit = std::string(look.speedUnit);
    FTryDisplay = look.tryDisplay;
    MBSetTryDisplay(FTryDisplay);
    MBSetBusy((mode == modeMaster || mode == modeASCIIMaster) ? !MBPortOpen() : true);
    MBShowCaption();
    if (mode == old)
        return;
    FMasterTryNumberMax = 0;
    FNumberOfRxFrames = 0;
    FNumberOfTxFrames = 0;
    MBShowCounters();
    MBSetStatus(stOK);
    // A closed port stays a port error whatever the mode: "Ready" would claim
    // a link that is not there.
    if (MBPortOpen())
        MBSetStatusNow(mode == modeSlave ? stnWaitingForCommand : stnReady);
    ResetLampsAndTry();
    FLowestSpeed = FSpeed;
    FSpeedMax = FSpeed;
}

void TMBEngine::PutVersionBlock() {
    MBPutWord(mb::kVersionYear);
    MBPutByte(mb::kVersionMonth);
    MBPutByte(mb::kVersionDay);
}

void TMBEngine::RestartSlaveTimer() {
    if (FASCIISlaveTimeOut == 0)
        FAnswerTimer->stop();
    else
        FAnswerTimer->start(FASCIISlaveTimeOut);
}

// ---- slaves ---------------------------------------------------------------------------

void TMBEngine::AcceptBinarySlaveRequest() {
    MBTXBufferClear();
    setMBSlaveErrorCode(0);
    MBLightRLamp();
    MBSetStatusNow(stnReceivedCommand);
    const std::uint8_t address = MBAnswerBytes()[0];
    const std::uint8_t id = MBAnswerBytes()[1];
    const std::uint8_t command = MBAnswerBytes()[2];
    bool zeroRx = false;
    if (id != 0 && id != MBSlaveID()) {
        setMBSlaveErrorCode(129);
    } else if (command == 0 || command == 128) {
        // nothing to answer but the header
    } else if (command == 129) {
        PutVersionBlock();
        PutVersionBlock();
        MBPutString(FSlaveName);
    } else if (command == 130) {
        zeroRx = MBGetByte() == 1;
        MBPutLongWord(zeroRx ? 0 : FNumberOfRxFrames + 1);
    } else if (command > 130) {
        setMBSlaveErrorCode(130);
    } else if (auto h = OnMBSlaveReceivedCommand) {
        h(command, (address & 0x40) != 0, MBReceivedDataNumber());
    }
    if (MBSlaveErrorCode() < 128) {
        FNumberOfRxFrames = zeroRx ? 0 : FNumberOfRxFrames + 1;
        ++FFramesThisSecond;
        MBShowCounters();
        MBSetStatus(stOK);
    } else {
        MBSetStatus(stSlaveError, MBSlaveErrorCode());
    }
    AnswerSlaveRequest((address & 0x0F) == 0);
}

void TMBEngine::AcceptASCIISlaveRequest() {
    MBTXBufferClear();
    setMBSlaveErrorCode(0);
    MBLightRLamp();
    ++FFramesThisSecond;
    MBSetStatusNow(stnReceivedCommand);
    const std::uint8_t address = MBAnswerBytes()[0];
    const std::uint8_t id = MBAnswerBytes()[1];
    const std::uint8_t command = MBAnswerBytes()[2];
    MBShowRID(kv::FormatPicture(id, "000"));
    if (id != 0 && id != MBSlaveID()) {
        setMBSlaveErrorCode(255);
    } else {
        RestartSlaveTimer();
        MBShowCurrentRequest(address, command);
        ++FNumberOfRxFrames;
        MBShowCounters();
        switch (command) {
        case 250: PutVersionBlock(); break;
        case 253:
            if (MBGetByte() == 1) {
                FNumberOfRxFrames = 0;
                MBShowCounters();
            }
            MBPutLongWord(FNumberOfRxFrames);
            break;
        case 254: MBPutString(FSlaveName); break;
        case 255: break;
        default:
            if (auto h = OnMBSlaveReceivedCommand)
                h(command, (address & 0x40) != 0, MBReceivedDataNumber());
            break;
        }
    }
    if (MBSlaveErrorCode() >= 254)
        MBSetStatus(stSlaveError, MBSlaveErrorCode());
    else
        MBSetStatus(stOK);
    // The ASCII address is a whole byte: only 0 is the broadcast.
    AnswerSlaveRequest(address == 0);
}

void TMBEngine::AnswerSlaveRequest(bool broadcast) {
    if (broadcast)
        return; // nobody waits for an answer; the state stays Received Command
    MBSetStatusNow(stnSending);
    if (FSlaveDelayTime == 0)
        MBSendSlaveAnswer();
    else
        FStartDelayTimer->start(FSlaveDelayTime);
}

void TMBEngine::MBSendSlaveAnswer() {
    MBSetStatusNow(stnSending);
    if (!MBSendFrame())
        return;
    CountTx(1);
    // The ASCII sender has already reset its receiver after the answer.
    if (MBMode() != modeASCIISlave)
        MBResetReceiver();
}

// ---- monitor ----------------------------------------------------------------------------

void TMBEngine::AcceptDiagnosticFrame() {
    MBLightRLamp();
    ++FNumberOfRxFrames;
    ++FFramesThisSecond;
    MBShowCounters();
    MBSetStatus(stOK);
    MBSetStatusNow(stnReady);
    if (auto h = OnMBDiagnosticReceivedAFrame)
        h(MBReceivedDataNumber());
    MBResetReceiver();
}

void TMBEngine::StartDiagnosticSend() {
    if (!MBSendFrame()) {
        EndWithClosedPort();
        return;
    }
    MBSetStatusNow(stnSending);
    CountTx(1);
    SetTry(1);
    EndWithoutAnswer(false);
}

// ---- byte and string pipes ------------------------------------------------------------------

void TMBEngine::StartUnframedSend() {
    MBSetBusy(true);
    const bool stringMode = MBMode() == modeString;
    if (stringMode) {
        MBClearAssembly();
        FStringArmed = true;
    }
    if (!MBSendFrame()) {
        MBTLampOff();
        MBSetStatusNow(stnPortError);
        EndWithClosedPort();
        return;
    }
    MBSetStatusNow(stnSending);
    CountTx(stringMode ? 1 : MBDataNumberToSend());
    SetTry(1);
    EndWithoutAnswer(false);
}

std::size_t TMBEngine::MBReceiveUnframed(const std::uint8_t* data, std::size_t n) {
    if (MBMode() == modeByte) {
        FNumberOfRxFrames += static_cast<std::uint32_t>(n);
        for (std::size_t i = 0; i < n; ++i)
            MBAppendAssembly(data[i]);
        MBLightRLamp();
        MBCopyAssemblyAsData();
        FFramesThisSecond += static_cast<std::uint32_t>(n);
        MBShowCounters();
        MBShowReceivedCount();
        MBSetStatus(stOK);
        MBSetStatusNow(stnReady);
        if (auto h = OnMBReceivedAByte) {
            h(MBReceivedDataNumber());
            MBClearAssembly();
        }
        return n;
    }
    if (!FStringArmed)
        return n; // nothing was asked for
    for (std::size_t i = 0; i < n; ++i) {
        MBAppendAssembly(data[i]);
        if (data[i] != FStopByteInStringMode)
            continue;
        FStringArmed = false;
        MBCopyAssemblyAsData();
        MBLightRLamp();
        // One string, one count: the counter's unit is strings.
        ++FNumberOfRxFrames;
        ++FFramesThisSecond;
        MBShowCounters();
        MBShowReceivedCount();
        MBSetStatus(stOK);
        MBSetStatusNow(stnReady);
        if (auto h = OnMBReceivedAString) {
            const char* s = reinterpret_cast<const char*>(MBAnswerBytes() + MBHeaderLength());
            h(std::string(s, MBReceivedDataNumber()));
        }
        break; // what follows the stop byte in this chunk is not part of it
    }
    return n;
}
