#include "PollCycle.h"

#include "SettingsActions.h"

#include <algorithm>

namespace kv {

namespace {
// Every request starts this long after it is composed.
constexpr std::uint16_t kStartDelayMs = 20;
} // namespace

TDeviceCommand CommandOf(TPendingCommand pending) {
    switch (pending) {
    case pendWriteInputCalibration: return cmdWriteInputCalibration;
    case pendWriteOutputCalibration: return cmdWriteOutputCalibration;
    case pendReadSettings: return cmdReadSettings;
    case pendWriteSettings: return cmdWriteSettings;
    case pendReadFactoryDefaults: break;
    }
    return cmdReadFactoryDefaults;
}

std::vector<std::uint8_t> TakeAnswer(TMBEngine& link) {
    // The link's buffer holds what was received; its reads give 0 beyond it,
    // so only the received bytes are taken.
    const std::size_t n = link.MBReceivedDataNumber();
    std::vector<std::uint8_t> bytes;
    bytes.reserve(n);
    link.MBSetRXReadIndex(1);
    for (std::size_t i = 0; i < n; ++i)
        bytes.push_back(link.MBGetByte());
    return bytes;
}

TPollCycle::TPollCycle(TMBEngine& link, TPollInputs& inputs, TPendingRequests& pending)
    : link_(link), inputs_(inputs), pending_(pending) {}

PollRequest TPollCycle::ComposePoll() const {
    PollRequest r;
    r.PWMForceValue = inputs_.PollPWMValue();
    r.MaintenanceBits = pending_.MaintenanceBits();
    const QDate today = inputs_.Today();
    r.Year = static_cast<std::uint16_t>(std::clamp(today.year(), 0, 0xFFFF));
    r.Month = static_cast<std::uint8_t>(today.month());
    r.Day = static_cast<std::uint8_t>(today.day());
    r.FETControl = inputs_.PollFETControl();
    return r;
}

void TPollCycle::Start(TDeviceCommand command, const std::vector<std::uint8_t>& data) {
    // The closing poll is the last request: nothing replaces it.
    if (stopped_ || endingForcing_)
        return;
    link_.setMBMasterCommandToSlave(command);
    link_.MBTXBufferClear();
    for (std::uint8_t b : data)
        link_.MBPutByte(b);
    std::uint16_t delay = kStartDelayMs;
    if (resync_) {
        // The crossed request's own answer is still on its way: it arrives
        // while this one waits for its start, and is ignored, so that the
        // next answer is this request's again. Without the wait every
        // request would meet the answer to the one before it from now on.
        delay = static_cast<std::uint16_t>(
            std::min<std::uint32_t>(0xFFFF, kStartDelayMs + link_.MBCalculatedTimeOfSending() + link_.MBMasterTimeOut()));
        resync_ = false;
    }
    link_.MBStartQuery(delay);
}

void TPollCycle::StartPoll() {
    const PollRequest r = ComposePoll();
    if (!stopped_)
        forcing_ = r.PWMForceValue != 0 || r.FETControl != 0;
    Start(cmdPoll, r.Encode());
}

void TPollCycle::EndForcing(std::function<void()> done) {
    if (endingForcing_) {
        // Already under way: this caller waits for the same end.
        endingForcing_ = [first = std::move(endingForcing_), done = std::move(done)] {
            first();
            done();
        };
        return;
    }
    if (!forcing_ || stopped_ || !link_.MBPortOpen()) {
        // Nothing can reach the device now; a close that asks again goes on.
        forcing_ = false;
        done();
        return;
    }
    // The device drives its output and switches itself again; no new
    // maintenance action is started whose acknowledgement nobody will see.
    PollRequest r = ComposePoll();
    r.PWMForceValue = 0;
    r.FETControl = 0;
    r.MaintenanceBits = 0;
    forcing_ = false;
    resync_ = false;
    triesBeforeEnding_ = link_.MBMasterMaxTryNumber();
    link_.setMBMasterMaxTryNumber(1);
    Start(cmdPoll, r.Encode()); // delayed: its end cannot come before `done` is kept
    endingForcing_ = std::move(done);
}

void TPollCycle::StartCommand(TPendingCommand command) {
    if (const auto data = pending_.CommandData(command)) {
        Start(CommandOf(command), *data);
    } else {
        pending_.SetPending(command, false);
        StartPoll();
    }
}

void TPollCycle::ServePendingOrPoll() {
    // One pending command instead of the next poll, in the cycle's order.
    for (TPendingCommand p : kPendingOrder)
        if (pending_.IsPending(p)) {
            StartCommand(p);
            return;
        }
    StartPoll();
}

void TPollCycle::EndOfTransaction(TMBStatus status, const std::string& statusText) {
    // An end that comes while the next request still waits for its start
    // answers an earlier request; the request goes out as composed.
    if (link_.MBQueryPending())
        return;
    if (endingForcing_) {
        // The closing poll's end (or that of the request it replaced, which
        // comes only after it went out): the close goes on, nothing follows.
        link_.setMBMasterMaxTryNumber(triesBeforeEnding_);
        const std::function<void()> done = std::move(endingForcing_);
        endingForcing_ = nullptr;
        done();
        return;
    }
    TCommandEnd end;
    end.Command = link_.MBMasterCommandToSlave();
    end.Status = status;
    end.StatusText = statusText;
    const bool fits = AnswerLengthFits(end.Command, link_.MBReceivedDataNumber());
    end.Done = status == stOK && fits;
    end.Crossed = status == stOK && !fits;
    resync_ = end.Crossed;
    // Taken now: the handlers below may start the next request.
    std::vector<std::uint8_t> answer;
    if (end.Done && (end.Command == cmdPoll || end.Command == cmdReadSettings || end.Command == cmdReadFactoryDefaults))
        answer = TakeAnswer(link_);
    if (OnEnd)
        OnEnd(end);

    if (end.Command == cmdPoll) {
        if (!end.Done) {
            if (link_.MBPortOpen())
                StartPoll();
            return;
        }
        const PollAnswer a = PollAnswer::Decode(answer);
        if (const std::uint8_t ended = MaintenanceEndedBy(a) & pending_.MaintenanceBits())
            pending_.ReleaseMaintenance(ended);
        if (OnPollAnswer)
            OnPollAnswer(a);
        if (link_.MBPortOpen())
            ServePendingOrPoll();
        return;
    }

    // A command's success releases it; a failure leaves it pending, so it
    // goes out again after the next good poll.
    if (end.Done) {
        switch (end.Command) {
        case cmdWriteInputCalibration:
            pending_.SetPending(pendWriteInputCalibration, false);
            break;
        case cmdWriteOutputCalibration:
            pending_.SetPending(pendWriteOutputCalibration, false);
            break;
        case cmdWriteSettings:
            // Read back what the device stored.
            pending_.SetPending(pendWriteSettings, false);
            pending_.SetPending(pendReadSettings, true);
            break;
        case cmdReadFactoryDefaults:
        case cmdReadSettings:
            pending_.SetPending(pendReadSettings, false);
            pending_.SetPending(pendReadFactoryDefaults, false);
            if (OnSettingsRecord)
                OnSettingsRecord(static_cast<TDeviceCommand>(end.Command), SettingsRecord::Decode(answer));
            break;
        default:
            break;
        }
    }
    // Every command is followed by a poll.
    if (link_.MBPortOpen())
        StartPoll();
}

} // namespace kv
