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
