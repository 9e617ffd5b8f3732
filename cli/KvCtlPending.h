#pragma once
// What kvctl's poll cycle is given: plain flags where the window keeps the
// down state of its toggle buttons, and a poll that forces nothing (no PWM
// value, no switches), dated by the PC's local date.
#include "PollCycle.h"

#include <array>
#include <functional>

namespace kvctl {

class TPendingFlags final : public kv::TPendingRequests {
public:
    bool IsPending(kv::TPendingCommand c) const override { return pending_[c]; }
    void SetPending(kv::TPendingCommand c, bool pending) override { pending_[c] = pending; }
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand c) override {
        if (c == kv::pendWriteSettings)
            return SettingsToWrite.Encode();
        // kvctl writes no calibrations: such a request is withdrawn.
        if (c == kv::pendWriteInputCalibration || c == kv::pendWriteOutputCalibration)
            return std::nullopt;
        return std::vector<std::uint8_t>{};
    }
    std::uint8_t MaintenanceBits() const override { return maintenance_; }
    void ReleaseMaintenance(std::uint8_t bits) override { maintenance_ &= static_cast<std::uint8_t>(~bits); }
    void AskMaintenance(std::uint8_t bits) { maintenance_ |= bits; }

    kv::SettingsRecord SettingsToWrite;

private:
    std::array<bool, std::size(kv::kPendingOrder)> pending_{};
    std::uint8_t maintenance_ = 0;
};

class TPollInputsNoForcing final : public kv::TPollInputs {
public:
    explicit TPollInputsNoForcing(std::function<QDate()> today) : today_(std::move(today)) {}
    std::uint16_t PollPWMValue() const override { return 0; }
    std::uint8_t PollFETControl() const override { return 0; }
    QDate Today() const override { return today_(); }

private:
    std::function<QDate()> today_;
};

} // namespace kvctl
