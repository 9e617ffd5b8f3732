#pragma once
// TKvSession: the window's poll cycle for kvctl. The same requests in the
// same order: a poll (command 1, with the maintenance bits and the PC's date)
// after every transaction, and after a good poll at most one pending command
// instead, in the window's priority (read settings, write settings, read
// factory defaults). A written record is read back after the next good poll,
// an acknowledged maintenance bit is no longer sent, and the
// wire-resistance store is dropped while the measured value is outside
// 0..100, as the window's button is released and disabled then.
//
// What the window keeps in the down state of its buttons is kept here in
// plain flags that the command in charge sets; every transaction's end is
// reported so that it can decide when it is done.
#include "DeviceRecords.h"
#include "MBLink.h"

#include <QDate>

#include <functional>
#include <optional>

namespace kvctl {

class TKvSession {
public:
    explicit TKvSession(TMBLink& link);
    ~TKvSession();

    // Pending requests, as the window's buttons.
    std::uint8_t MaintenanceBits = 0;
    bool ReadSettings = false;
    bool WriteSettings = false;
    bool ReadFactoryDefaults = false;
    kv::SettingsRecord SettingsToWrite;

    // The PC's local date for the poll request (tests fix it).
    std::function<QDate()> LocalDate;

    // Every transaction's end, after the cycle has acted on it (the next
    // request is already started when the port is open). `answer` holds the
    // answer's data bytes of a good transaction.
    struct TEnd {
        std::uint8_t command = 0;
        TMBStatus status = stOK;
        std::string statusText;
        std::vector<std::uint8_t> answer;
    };
    std::function<void(const TEnd& end)> OnEnd;

    // The request data of the next poll, as the window composes it.
    kv::PollRequest PollRequestNow() const;
    // Starts the cycle with a poll (the port is open).
    void Start();
    // No request is started any more.
    void Stop() { stopped_ = true; }
    bool Stopped() const { return stopped_; }

    // The last good poll answer and the last settings answer, if any.
    const std::optional<kv::PollAnswer>& LastPoll() const { return lastPoll_; }
    std::uint64_t GoodPolls() const { return goodPolls_; }

private:
    void StartCommand(kv::TDeviceCommand command, const std::vector<std::uint8_t>& data = {});
    void StartPoll();
    void EndOfTransaction(TMBStatus status, const std::string& text);

    TMBLink& link_;
    bool stopped_ = false;
    std::optional<kv::PollAnswer> lastPoll_;
    std::uint64_t goodPolls_ = 0;
};

} // namespace kvctl
