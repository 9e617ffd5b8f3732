#pragma once
// The poll cycle without widgets: a link engine on an in-memory port answered
// by the in-process device model (or by the test itself), a manual clock, and
// plain flags for what is pending. The cycle runs as in the programs, but
// only when the test moves the clock on.
#include "InProcessDevice.h"
#include "MBEngine.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"
#include "PollCycle.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace cycletest {

using Bytes = std::vector<std::uint8_t>;

// The engine with its port: one write per frame, received chunks parsed.
class TMemoryLink : public TMBEngine {
public:
    TMemoryLink(TMBManualClock& clock, TMBMemoryPort& port) : TMBEngine(&clock), port_(port) {
        setMBBaud(baud115200);
        port_.OnReceive = [this](qint64 waiting) {
            const QByteArray b = port_.Read(waiting);
            if (MBPortOpen() && !b.isEmpty())
                MBParseReceived(reinterpret_cast<const std::uint8_t*>(b.constData()), static_cast<std::size_t>(b.size()));
        };
    }
    ~TMemoryLink() override { port_.OnReceive = nullptr; }
    void Open() {
        port_.Open(QStringLiteral("/dev/ttyMEM0"), MBBaudRate());
        MBEnginePortOpened();
    }
    void Close() {
        MBEnginePortClosed();
        port_.Close();
    }

protected:
    bool MBWriteToPort(const std::uint8_t* data, std::size_t n) override {
        return port_.IsOpen() && port_.Write(reinterpret_cast<const char*>(data), static_cast<qint64>(n)) ==
                                     static_cast<qint64>(n);
    }

private:
    TMBMemoryPort& port_;
};

// What is pending, as flags; the test may refuse a write's data.
struct TFlags : kv::TPendingRequests {
    std::array<bool, 5> pending{};
    std::uint8_t maintenance = 0;
    std::function<std::optional<Bytes>(kv::TPendingCommand)> data;
    bool IsPending(kv::TPendingCommand c) const override { return pending[c]; }
    void SetPending(kv::TPendingCommand c, bool p) override { pending[c] = p; }
    std::optional<Bytes> CommandData(kv::TPendingCommand c) override {
        if (data)
            return data(c);
        if (c == kv::pendWriteSettings)
            return kv::SettingsRecord{}.Encode();
        if (c == kv::pendWriteInputCalibration)
            return kv::InputCalibrationRecord{}.Encode();
        if (c == kv::pendWriteOutputCalibration)
            return kv::OutputCalibrationRecord{}.Encode();
        return Bytes{};
    }
    std::uint8_t MaintenanceBits() const override { return maintenance; }
    void ReleaseMaintenance(std::uint8_t bits) override { maintenance &= static_cast<std::uint8_t>(~bits); }
};

struct TInputs : kv::TPollInputs {
    std::uint16_t pwm = 0;
    std::uint8_t fet = 0;
    QDate today{2026, 12, 6};
    std::uint16_t PollPWMValue() const override { return pwm; }
    std::uint8_t PollFETControl() const override { return fet; }
    QDate Today() const override { return today; }
};

// One end the cycle took, with the data its request carried.
struct TEnded {
    kv::TCommandEnd end;
    Bytes sent;
};

struct TCycleRig {
    TMBManualClock clock;
    TMBMemoryPort port;
    TMemoryLink link{clock, port};
    TFlags flags;
    TInputs inputs;
    kv::TPollCycle cycle{link, inputs, flags};
    std::unique_ptr<kvsim::TInProcessDevice> device;
    std::vector<TEnded> ended;
    std::vector<kv::PollAnswer> polls;
    std::vector<std::pair<kv::TDeviceCommand, kv::SettingsRecord>> settings;
    QByteArray wireIn; // what the scripted device has heard of a frame so far

    // Without a device the test answers requests itself (Script).
    explicit TCycleRig(bool withDevice = true, const kvsim::TDeviceConfig& config = kvsim::TDeviceConfig::Steady()) {
        link.OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) { cycle.EndOfTransaction(s, t); };
        cycle.OnEnd = [this](const kv::TCommandEnd& e) {
            TEnded t{e, {}};
            for (int i = 1; i <= link.MBDataNumberToSend(); ++i)
                t.sent.push_back(link.MBTXDataAt(i));
            ended.push_back(std::move(t));
        };
        cycle.OnPollAnswer = [this](const kv::PollAnswer& a) { polls.push_back(a); };
        cycle.OnSettingsRecord = [this](kv::TDeviceCommand c, const kv::SettingsRecord& r) { settings.emplace_back(c, r); };
        if (withDevice)
            device = std::make_unique<kvsim::TInProcessDevice>(port, clock, config);
    }
    ~TCycleRig() {
        link.OnMBMasterEndOfEvent = nullptr;
        device.reset();
    }

    // A device played by the test: for each request (command, data) the
    // answer's error code and data, or nothing for no answer at all.
    struct TAnswer {
        std::uint8_t error = 0;
        Bytes data;
    };
    using TScript = std::function<std::optional<TAnswer>(std::uint8_t command, const Bytes& data)>;
    void Script(TScript script) {
        port.OnWritten = [this, script](const QByteArray& piece) {
            wireIn += piece;
            const qsizetype end = wireIn.indexOf(';');
            if (end < 0)
                return;
            const QByteArray wire = wireIn.left(end + 1);
            wireIn.remove(0, end + 1);
            const QByteArray frame = QByteArray::fromHex(wire.mid(1, wire.size() - 2));
            if (frame.size() < 6)
                return;
            const auto answer = script(static_cast<std::uint8_t>(frame[2]), Bytes(frame.begin() + 4, frame.end() - 2));
            if (answer)
                Push(static_cast<std::uint8_t>(frame[2]), answer->error, answer->data);
        };
    }
    // An answer frame on the line, whatever was asked.
    void Push(std::uint8_t command, std::uint8_t error, const Bytes& data) {
        std::string f{char(1), char(0), char(command), char(error)};
        f.append(data.begin(), data.end());
        const std::uint16_t crc = MBCRC16(f);
        f += char(crc & 0xFF);
        f += char(crc >> 8);
        port.Push(QByteArray::fromStdString(
            TMBFrameCore::MBEncodeASCII('S', reinterpret_cast<const std::uint8_t*>(f.data()), f.size())));
    }

    // Opens the port and starts the cycle, as the window's open does.
    void Open() {
        link.Open();
        cycle.StartPoll();
    }
    bool RunFor(std::int64_t ms) {
        return clock.advanceUntil(
            [&] {
                port.DeliverPending();
                return false;
            },
            ms);
    }
    // Runs until n more transactions have ended.
    bool Run(std::size_t n, std::int64_t limitMs = 60000) {
        const std::size_t target = ended.size() + n;
        return clock.advanceUntil(
            [&] {
                port.DeliverPending();
                return ended.size() >= target;
            },
            limitMs);
    }
    // Runs until a transaction of `command` has ended done.
    bool RunUntilDone(std::uint8_t command, std::int64_t limitMs = 60000) {
        const std::size_t from = ended.size();
        return clock.advanceUntil(
            [&] {
                port.DeliverPending();
                for (std::size_t i = from; i < ended.size(); ++i)
                    if (ended[i].end.Command == command && ended[i].end.Done)
                        return true;
                return false;
            },
            limitMs);
    }
    Bytes Commands(std::size_t from = 0) const {
        Bytes c;
        for (std::size_t i = from; i < ended.size(); ++i)
            c.push_back(ended[i].end.Command);
        return c;
    }
};

} // namespace cycletest
