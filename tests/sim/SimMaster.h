#pragma once
// A bare master for the simulator's tests and benchmark: the link engine in
// modeASCIIMaster over any TMBPort (the memory port or a real pty), without
// the panel. Records every end of transaction.
#include "DeviceRecords.h"
#include "MBEngine.h"
#include "MBPort.h"

#include <string>
#include <vector>

namespace simtest {

struct TEnd {
    TMBStatus status;
    std::string text;
    int tries;
    std::vector<std::uint8_t> data;
};

class TSimMaster : public TMBEngine {
public:
    TSimMaster(TMBPort& port, TMBTimerFactory* timers) : TMBEngine(timers), port_(port) {
        port_.OnReceive = [this](qint64 waiting) {
            const QByteArray bytes = port_.Read(waiting);
            MBParseReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
        };
        port_.OnHangUp = [this] { ++hangUps; };
        OnMBMasterEndOfEvent = [this](TMBStatus status, const std::string& text) {
            TEnd e{status, text, MBMasterTryNumber(), {}};
            for (int i = 0; i < MBReceivedDataNumber(); ++i)
                e.data.push_back(MBAnswerBytes()[MBHeaderLength() + i]);
            ends.push_back(std::move(e));
            if (onEnd)
                onEnd();
        };
    }
    ~TSimMaster() override {
        port_.OnReceive = nullptr;
        port_.OnHangUp = nullptr;
    }
    bool Open(const QString& name, std::uint32_t rate) {
        if (!port_.Open(name, rate))
            return false;
        MBEnginePortOpened();
        return true;
    }
    void Close() {
        port_.Close();
        MBEnginePortClosed();
    }
    // Starts command `cmd` with `data` after `delayMs`.
    void Start(std::uint8_t cmd, const std::vector<std::uint8_t>& data, std::uint16_t delayMs = 0) {
        setMBMasterCommandToSlave(cmd);
        MBTXBufferClear();
        for (std::uint8_t b : data)
            MBPutByte(b);
        MBStartQuery(delayMs);
    }
    void Poll(std::uint16_t delayMs = 0, std::uint8_t maint = 0) {
        kv::PollRequest r{0, maint, 2026, 12, 7, 0};
        Start(kv::cmdPoll, r.Encode(), delayMs);
    }

    std::vector<TEnd> ends;
    int hangUps = 0;
    std::function<void()> onEnd;

protected:
    bool MBWriteToPort(const std::uint8_t* data, std::size_t n) override {
        return port_.Write(reinterpret_cast<const char*>(data), static_cast<qint64>(n)) == static_cast<qint64>(n);
    }

private:
    TMBPort& port_;
};

} // namespace simtest
