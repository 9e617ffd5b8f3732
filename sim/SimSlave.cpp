#include "SimSlave.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kvsim {

TSimSlave::TSimSlave(TDeviceModel& model, TFaultInjector& faults, TMBTimerFactory* timers, std::function<std::int64_t()> now)
    : TMBEngine(timers), model_(model), faults_(faults), now_(std::move(now)) {
    modelTime_ = now_ ? now_() : 0;
    OnMBSlaveReceivedCommand = [this](std::uint8_t command, bool, std::uint16_t dataNumber) { Handle(command, dataNumber); };
    if (now_ && timers) {
        cycle_ = MBTimers().createTimer(static_cast<int>(TDeviceModel::kCycleMs), false, [this] {
            SyncModel();
            ArmCycle();
        });
        ArmCycle();
    }
}

void TSimSlave::ArmCycle() {
    // The model's cycles are due at its own times (a restart shifts them);
    // the timer is set anew each time to meet the next one.
    const std::uint64_t now = model_.Now(), due = model_.NextCycle();
    const std::uint64_t wait = due > now ? due - now : 1;
    cycle_->start(static_cast<int>(std::min<std::uint64_t>(wait, 0x7FFFFFFF)));
}

void TSimSlave::Start() {
    setMBMode(modeASCIISlave);
    setMBASCIISlaveTimeOut(0); // a quiet master is no event for the device
    setMBSlaveDelayTime(turnaround_);
    frame_.clear();
    MBEnginePortOpened();
}

void TSimSlave::Stop() {
    frame_.clear();
    held_.clear();
    MBEnginePortClosed();
}

void TSimSlave::SyncModel() {
    if (!now_)
        return;
    const std::int64_t t = now_();
    if (t > modelTime_) {
        model_.Advance(static_cast<std::uint32_t>(std::min<std::int64_t>(t - modelTime_, 0x7FFFFFFF)));
        modelTime_ = t;
    }
}

void TSimSlave::Handle(std::uint8_t command, std::uint16_t dataNumber) {
    ++requests_;
    SyncModel();
    fate_ = faults_.Decide();

    std::vector<std::uint8_t> request(dataNumber);
    for (auto& b : request)
        b = MBGetByte();
    if (fate_.Drop) {
        // A dropped request never reached the device: the model does not see it.
    } else if (fate_.ErrorCode >= 0) {
        setMBSlaveErrorCode(static_cast<std::uint8_t>(fate_.ErrorCode));
    } else if (auto answer = model_.Handle(command, request)) {
        ++handled_[command];
        setMBSlaveErrorCode(answer->ErrorCode);
        for (std::uint8_t b : answer->Data)
            MBPutByte(b);
    } else {
        fate_.Drop = true; // restarting: the device does not answer
    }

    // The request's own characters took their time on the line before the
    // device could act on them.
    double ms = turnaround_;
    if (lineRate_ > 0)
        ms += (2.0 * (dataNumber + 6) + 2.0) * 10.0 * 1000.0 / lineRate_;
    exactDelayMs_ = ms;
    const double engineMs = earlyHandOff_ ? std::floor(std::max(0.0, ms - 1.0)) : ms;
    delay_ = static_cast<std::uint16_t>(std::clamp(std::lround(engineMs), 0L, 65535L));
    setMBSlaveDelayTime(delay_);
}

bool TSimSlave::MBWriteToPort(const std::uint8_t* data, std::size_t n) {
    frame_.append(reinterpret_cast<const char*>(data), n);
    if (frame_.empty() || frame_.back() != ';')
        return true;
    // One whole answer: apply its fate.
    std::string out;
    const TAnswerFate fate = fate_;
    fate_ = TAnswerFate{};
    setMBSlaveDelayTime(turnaround_);
    if (fate.Drop || faults_.Faults().Silent) {
        frame_.clear();
        return true;
    }
    if (fate.Noise)
        out = faults_.NoiseBytes();
    if (fate.Corrupt)
        faults_.CorruptFrame(frame_);
    out += frame_;
    frame_.clear();
    const std::uint32_t lateMs = faults_.Faults().LateMs;
    if (fate.Late && lateMs > delay_) {
        // Held back on a timer of its own: a retry that comes meanwhile does
        // not cancel it.
        if (!releasing_)
            held_.remove_if([](const auto& h) { return !h.first->isActive(); });
        held_.emplace_back(nullptr, out);
        auto it = std::prev(held_.end());
        it->first = MBTimers().createTimer(static_cast<int>(lateMs - delay_), true, [this, it] {
            // The held entry stays alive while it is being released.
            releasing_ = true;
            Emit(it->second);
            releasing_ = false;
        });
        it->first->start();
        return true;
    }
    Emit(out);
    return true;
}

void TSimSlave::Emit(const std::string& bytes) {
    ++answers_;
    if (OnAnswer)
        OnAnswer(bytes);
}

} // namespace kvsim
