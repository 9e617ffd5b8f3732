#pragma once
// TPollCycle: the conversation with the transmitter, once for every program.
// One request is in flight at a time and the end of each transaction decides
// the next: the poll (command 1), or after a good poll the one pending
// command of highest priority. The window and kvctl differ only in where
// they keep what is pending and in what they do with the answers:
//
//   TPollInputs       what the poll carries besides the maintenance bits:
//                     the PWM word, the FET byte, today's date
//   TPendingRequests  what the user (or a command) wants done: the window's
//                     toggle buttons' down state, kvctl's flags; and the
//                     record a pending write carries
//   events            typed records handed on: every end (TCommandEnd), a
//                     good poll's PollAnswer, a good settings read's record
//
// The cycle talks to the link through TMBEngine only (the panel TMB and the
// widget-free link are both one), and takes every answer's bytes out of the
// engine itself, once.
//
// The late-answer rules. A device that answers after the link's time-out
// makes each request meet the answer to an earlier one:
//  - an end that comes while the next request still waits for its start
//    delay belongs to an earlier request: it is ignored, the waiting request
//    goes out as composed and its own answer decides;
//  - an answer whose length belongs to another command (a poll answered
//    with a settings record, a settings read with a poll answer, ...) counts
//    as a failure of the command: nothing it carries is handed on, the
//    command stays pending; the request after it starts only once the
//    crossed request's own answer has had the link's time-out to come, so
//    that this answer is ignored by the rule above and requests and answers
//    are in step again (as long as the device answers within the time-out);
// and the cycle's own rules:
//  - a failed poll is followed by a poll, never by a pending command;
//  - after a good poll at most one pending command goes out, in this order:
//    input calibration write, output calibration write, settings read,
//    settings write, factory defaults read;
//  - a command's success releases it (a settings write also makes the
//    settings read pending, so that what the device stored is read back;
//    either settings read releases both reads); a failure leaves it pending;
//  - every command is followed by a poll;
//  - after a good poll the maintenance actions it ended are released
//    (kv::MaintenanceEndedBy: acknowledged, or a wire resistance no longer
//    storable).
//  - before a close, a forced device gets one poll without forcing
//    (EndForcing); nothing is started after it.
// Nothing is started while the port is closed or after Stop().
#include "DeviceRecords.h"
#include "MBEngine.h"

#include <QDate>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// The commands that wait for a good poll, in the order the cycle serves them.
enum TPendingCommand : std::uint8_t {
    pendWriteInputCalibration,
    pendWriteOutputCalibration,
    pendReadSettings,
    pendWriteSettings,
    pendReadFactoryDefaults,
};
inline constexpr TPendingCommand kPendingOrder[] = {pendWriteInputCalibration, pendWriteOutputCalibration,
                                                    pendReadSettings, pendWriteSettings, pendReadFactoryDefaults};
TDeviceCommand CommandOf(TPendingCommand pending);

// What the poll request carries from where the program stands.
class TPollInputs {
public:
    virtual ~TPollInputs() = default;
    virtual std::uint16_t PollPWMValue() const = 0;
    virtual std::uint8_t PollFETControl() const = 0;
    // The PC's local date, asked once per poll (year, month and day belong
    // together); a year beyond the word is held at its end.
    virtual QDate Today() const = 0;
};

// What is pending, where the program keeps it.
class TPendingRequests {
public:
    virtual ~TPendingRequests() = default;
    virtual bool IsPending(TPendingCommand command) const = 0;
    virtual void SetPending(TPendingCommand command, bool pending) = 0;
    // The data a pending command carries when it goes out (none for the
    // reads). No value withdraws the command: it is released unsent and a
    // poll goes out instead (a calibration never computed, for instance).
    virtual std::optional<std::vector<std::uint8_t>> CommandData(TPendingCommand command) = 0;
    // The one-shot maintenance actions asked for (kv::maint bits), carried
    // in every poll until they are released.
    virtual std::uint8_t MaintenanceBits() const = 0;
    virtual void ReleaseMaintenance(std::uint8_t bits) = 0;
};

// The end of a transaction as the cycle judged it.
struct TCommandEnd {
    std::uint8_t Command = 0;  // the command number of the request
    TMBStatus Status = stOK;   // as the link reported it
    std::string StatusText;
    // The answer is the command's own (status OK and a length that fits).
    bool Done = false;
    // Status OK, but the answer's length belongs to another command: the
    // late answer to an earlier request.
    bool Crossed = false;
};

// The data bytes of the answer in the engine's receive buffer (read index
// moved past them), as far as the device sent them.
std::vector<std::uint8_t> TakeAnswer(TMBEngine& link);

class TPollCycle {
public:
    TPollCycle(TMBEngine& link, TPollInputs& inputs, TPendingRequests& pending);
    TPollCycle(const TPollCycle&) = delete;
    TPollCycle& operator=(const TPollCycle&) = delete;

    // Composes the poll from the inputs and the maintenance bits and starts it.
    void StartPoll();
    // Starts a pending command with the data it carries, or, when it has
    // none to carry, releases it and starts a poll instead.
    void StartCommand(TPendingCommand command);
    // The poll's data as StartPoll would compose them now.
    PollRequest ComposePoll() const;
    // The dispatcher: the link's end of a transaction.
    void EndOfTransaction(TMBStatus status, const std::string& statusText);
    // Whether the device is forced now: the last poll started carried a PWM
    // word or a FET byte other than 0.
    bool Forcing() const { return forcing_; }
    // The closing poll of EndForcing is under way.
    bool EndingForcing() const { return static_cast<bool>(endingForcing_); }
    // Ends the forcing before the port closes (each way of closing but a
    // hang-up calls it first): when the device is forced and the port open,
    // one poll with PWM word and FET byte 0 takes the place of the request
    // under way, with a single try, and `done` runs when it ends (at most the
    // link's time-out for one try after its start); no request follows it.
    // Otherwise `done` runs at once.
    void EndForcing(std::function<void()> done);
    // No request is started any more, until Resume.
    void Stop() { stopped_ = true; }
    void Resume() { stopped_ = false; }
    bool Stopped() const { return stopped_; }

    // Every end the cycle takes (not those it ignores), before the pending
    // state is updated and before the records below.
    std::function<void(const TCommandEnd& end)> OnEnd;
    // A good poll's answer, after its maintenance releases.
    std::function<void(const PollAnswer& answer)> OnPollAnswer;
    // A good settings read (command 6) or factory defaults read (5), after
    // both reads have been released.
    std::function<void(TDeviceCommand command, const SettingsRecord& record)> OnSettingsRecord;

private:
    void Start(TDeviceCommand command, const std::vector<std::uint8_t>& data);
    void ServePendingOrPoll();

    TMBEngine& link_;
    TPollInputs& inputs_;
    TPendingRequests& pending_;
    bool stopped_ = false;
    bool forcing_ = false;
    std::function<void()> endingForcing_; // set while the closing poll is under way
    std::uint8_t triesBeforeEnding_ = 0;
    bool resync_ = false; // the next start waits out a crossed request's own answer
};

} // namespace kv
