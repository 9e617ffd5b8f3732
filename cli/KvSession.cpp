#include "KvSession.h"

#include <algorithm>

namespace kvctl {

namespace {
// Every request starts this long after it is composed, as in the window.
constexpr std::uint16_t kStartDelayMs = 20;
} // namespace

TKvSession::TKvSession(TMBLink& link) : link_(link) {
    LocalDate = [] { return QDate::currentDate(); };
    link_.OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) { EndOfTransaction(s, t); };
}

TKvSession::~TKvSession() { link_.OnMBMasterEndOfEvent = nullptr; }

kv::PollRequest TKvSession::PollRequestNow() const {
    kv::PollRequest r;
    r.MaintenanceBits = MaintenanceBits;
    const QDate today = LocalDate();
    r.Year = static_cast<std::uint16_t>(std::clamp(today.year(), 0, 0xFFFF));
    r.Month = static_cast<std::uint8_t>(today.month());
    r.Day = static_cast<std::uint8_t>(today.day());
    return r;
}

void TKvSession::Start() {
    stopped_ = false;
    StartPoll();
}

void TKvSession::StartCommand(kv::TDeviceCommand command, const std::vector<std::uint8_t>& data) {
    if (stopped_ || !link_.MBPortOpen())
        return;
    link_.setMBMasterCommandToSlave(command);
    link_.MBTXBufferClear();
    for (std::uint8_t b : data)
        link_.MBPutByte(b);
    link_.MBStartQuery(kStartDelayMs);
}

void TKvSession::StartPoll() { StartCommand(kv::cmdPoll, PollRequestNow().Encode()); }

void TKvSession::EndOfTransaction(TMBStatus status, const std::string& text) {
    TEnd end;
    end.command = link_.MBMasterCommandToSlave();
    end.status = status;
    end.statusText = text;
    const bool ok = status == stOK;
    if (ok) {
        const std::size_t n = link_.MBReceivedDataNumber();
        link_.MBSetRXReadIndex(1);
        end.answer.reserve(n);
        for (std::size_t i = 0; i < n; ++i)
            end.answer.push_back(link_.MBGetByte());
    }

    if (end.command == kv::cmdPoll) {
        if (ok) {
            const kv::PollAnswer a = kv::PollAnswer::Decode(end.answer);
            lastPoll_ = a;
            ++goodPolls_;
            // What the device acknowledged is no longer pending.
            MaintenanceBits &= static_cast<std::uint8_t>(~a.MaintenanceAck);
            // The wire resistance is stored only while the measured one is
            // plausible for wires.
            if (!(a.PhysicalValue >= 0 && a.PhysicalValue <= 100))
                MaintenanceBits &= static_cast<std::uint8_t>(~kv::maint::Rof2Wire);
        }
        if (OnEnd)
            OnEnd(end);
        if (!ok) {
            StartPoll();
            return;
        }
        if (ReadSettings)
            StartCommand(kv::cmdReadSettings);
        else if (WriteSettings)
            StartCommand(kv::cmdWriteSettings, SettingsToWrite.Encode());
        else if (ReadFactoryDefaults)
            StartCommand(kv::cmdReadFactoryDefaults);
        else
            StartPoll();
        return;
    }

    if (ok) {
        switch (end.command) {
        case kv::cmdWriteSettings:
            WriteSettings = false;
            ReadSettings = true; // read back what the device stored
            break;
        case kv::cmdReadSettings:
        case kv::cmdReadFactoryDefaults:
            ReadSettings = false;
            ReadFactoryDefaults = false;
            break;
        default:
            break;
        }
    }
    if (OnEnd)
        OnEnd(end);
    StartPoll();
}

} // namespace kvctl
