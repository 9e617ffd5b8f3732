#pragma once
// Test doubles of the link core: a frame core and an engine whose port is a
// byte string, with a record of the hooks they called.
#include "MBFrames.h"
#include "MBTimer.h"

#include <string>
#include <vector>

namespace coretest {

inline std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b)
        s += static_cast<char>(v);
    return s;
}

inline std::string Frame(std::initializer_list<int> b) {
    std::string s = Bytes(b);
    const std::uint16_t crc = MBCRC16(s);
    s += static_cast<char>(crc & 0xFF);
    s += static_cast<char>(crc >> 8);
    return s;
}

inline std::string Ascii(char start, const std::string& frame) {
    return TMBFrameCore::MBEncodeASCII(start, reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size());
}
inline std::string Binary(const std::string& frame) {
    return TMBFrameCore::MBEncodeBinary(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size());
}

// A frame core with an in-memory port.
class CaptureCore : public TMBFrameCore {
public:
    using TMBFrameCore::MBAppendAssembly;
    void Open(bool open = true) { setMBPortOpen(open); }

    std::string wire;                 // everything written
    std::vector<std::string> pieces;  // each write
    int failAtPiece = -1;             // the write with this number fails
    int resets = 0, accepts = 0, starts = 0, refused = 0, failed = 0, tlamps = 0;
    std::string tid;

protected:
    bool MBWriteToPort(const std::uint8_t* d, std::size_t n) override {
        if (static_cast<int>(pieces.size()) == failAtPiece)
            return false;
        pieces.emplace_back(reinterpret_cast<const char*>(d), n);
        wire.append(reinterpret_cast<const char*>(d), n);
        return true;
    }
    void MBSendRefused() override { ++refused; }
    void MBSendFailed() override { ++failed; }
    void MBLightTLamp() override { ++tlamps; }
    void MBShowTID(const std::string& t) override { tid = t; }
    void MBReceiverWasReset() override { ++resets; }
    void MBBinaryFrameStarted() override { ++starts; }
    void MBFrameAccepted() override { ++accepts; }
};

} // namespace coretest

#include "MBEngine.h"

#include <gtest/gtest.h>

namespace coretest {

// An engine on a manual clock whose port is a byte string. It records what it
// raised and shows, and checks on the way that a state event never repeats
// the state it had.
class TestEngine : public TMBEngine {
public:
    explicit TestEngine(TMBManualClock& clock) : TMBEngine(&clock), FClock(clock) {
        OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) {
            ends.push_back({s, t, FClock.now()});
            if (onEnd)
                onEnd(s, t);
        };
        OnMBStatusNowChanged = [this](TMBStatusNow s, const std::string& t) {
            EXPECT_TRUE(states.empty() || states.back() != s) << "state repeated: " << t;
            EXPECT_EQ(t, mb::StatusNowText(s));
            states.push_back(s);
        };
        OnMBBusyChanged = [this](bool b) { busies.push_back(b); };
    }

    struct End {
        TMBStatus status;
        std::string text;
        std::int64_t at;
    };

    using TMBEngine::MBAnswerTimer;
    using TMBEngine::MBStartDelayTimer;
    void Open() { MBEnginePortOpened(); }
    void Close() { MBEnginePortClosed(); }
    void Receive(const std::string& s) { MBParseReceived(s); }
    std::string TakeWire() {
        std::string w;
        w.swap(wire);
        return w;
    }

    // port
    std::string wire;
    std::vector<std::int64_t> sendTimes; // clock time of every frame start
    bool writesFail = false;
    int writesBeforeFailure = -1; // >= 0: that many more writes succeed
    // records
    std::vector<End> ends;
    std::vector<TMBStatusNow> states;
    std::vector<bool> busies;
    std::function<void(TMBStatus, const std::string&)> onEnd;
    std::string tid = "---", rid = "---", lastStatusShown, caption;
    int tries = -1, counterShows = 0, deferredStarts = 0, speedShows = 0, graphDraws = 0, lampResets = 0;
    std::vector<std::pair<int, int>> requests;

protected:
    bool MBWriteToPort(const std::uint8_t* d, std::size_t n) override {
        if (writesFail)
            return false;
        if (writesBeforeFailure == 0)
            return false;
        if (writesBeforeFailure > 0)
            --writesBeforeFailure;
        if (n > 0 && (d[0] == 'M' || d[0] == 'S' || (n == 2 && (d[1] & 0x80)) || MBMode() == modeByte || MBMode() == modeString))
            sendTimes.push_back(FClock.now());
        wire.append(reinterpret_cast<const char*>(d), n);
        return true;
    }
    void MBShowTID(const std::string& t) override { tid = t; }
    void MBShowRID(const std::string& t) override { rid = t; }
    void MBShowTry(int n) override { tries = n; }
    void MBShowCounters() override { ++counterShows; }
    void MBShowLastStatus() override { lastStatusShown = "Last status: " + MBStatusString(); }
    void MBShowCaption() override { caption = MBCaption(); }
    void MBShowCurrentRequest(std::uint8_t a, std::uint8_t c) override { requests.emplace_back(a, c); }
    void MBDeferredStart() override {
        ++deferredStarts;
        TMBEngine::MBDeferredStart();
    }
    void MBShowSpeed() override { ++speedShows; }
    void MBDrawSpeedGraph() override { ++graphDraws; }
    void MBResetLamps() override { ++lampResets; }

private:
    TMBManualClock& FClock;
};

// Carries bytes both ways between two engines until both are quiet.
inline void Pump(TestEngine& a, TestEngine& b) {
    for (int guard = 0; guard < 1000 && (!a.wire.empty() || !b.wire.empty()); ++guard) {
        if (!a.wire.empty())
            b.Receive(a.TakeWire());
        if (!b.wire.empty())
            a.Receive(b.TakeWire());
    }
}

} // namespace coretest
