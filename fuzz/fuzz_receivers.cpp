// Fuzz target: the link's receivers in every mode, behind the whole engine.
//
// Input: byte 0 chooses the mode (low three bits) and settings, byte 1 the
// addresses and IDs; then records of [control][data...]: the control's low six
// bits + 1 give the chunk length, bit 6 starts a request before the chunk,
// bit 7 moves the clock 600 ms on after it (time-outs, retries, slave timer).
//
// With KV_FUZZ this is a libFuzzer target; otherwise a replay program that
// runs a fixed set of generated inputs (valid frames of every kind, then
// mutated) and is registered as a test.
#include "MBEngine.h"
#include "MBTimer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Frames the engine took, over all inputs (the replay reports it, so that a
// generator that stopped producing valid frames is noticed).
std::size_t gAccepted = 0;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_receivers: invariant broken: %s\n", what);
    std::abort();
}

class FuzzEngine : public TMBEngine {
public:
    explicit FuzzEngine(TMBManualClock& c) : TMBEngine(&c) {}
    void Open() { MBEnginePortOpened(); }
    void Close() { MBEnginePortClosed(); }
    std::size_t written = 0;
    bool failWrites = false;

    void Check() const {
        if (MBNumberOfReceivedBytes() > kRxBufferSize)
            Fail("assembly count");
        if (MBRxBufferFull() != (MBNumberOfReceivedBytes() == kRxBufferSize))
            Fail("full flag");
        if (MBReceivedDataNumber() > kRxBufferSize)
            Fail("received data number");
        if (MBMBRXDataBufferIndex() < 1 || MBMBRXDataBufferIndex() > kMaxData)
            Fail("read index");
        if (MBMBTXDataBufferIndex() < 1 || MBMBTXDataBufferIndex() > kMaxData)
            Fail("write index");
        if (MBDataNumberToSend() > kMaxData)
            Fail("data number to send");
        if (MBMasterTryNumber() > MBMasterMaxTryNumber() && (MBMode() == modeMaster || MBMode() == modeASCIIMaster))
            Fail("try number");
    }

protected:
    bool MBWriteToPort(const std::uint8_t*, std::size_t n) override {
        if (failWrites)
            return false;
        written += n;
        return true;
    }
};

void RunOne(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return;
    TMBManualClock clock;
    FuzzEngine e(clock);
    clock.advance(1000); // the deferred start-up
    const std::uint8_t s0 = data[0], s1 = data[1];
    e.setMBMode(static_cast<TMBMode>((s0 & 7) % 7));
    e.setMBMasterAddressToSlave(s1 & 0x1F);
    e.setMBSlaveOwnAddress(s1 >> 4);
    e.setMBMasterIDToSlave((s0 & 0x08) ? (s1 & 3) : 0);
    e.setMBSlaveID((s0 & 0x10) ? (s1 & 3) : 0);
    e.setMBMasterQueryMode(s0 & 0x20);
    e.setMBSlaveDelayTime((s0 & 0x40) ? 50 : 0);
    e.setMBMasterMaxTryNumber(static_cast<std::uint8_t>(1 + (s1 & 3)));
    e.setMBStopByteInStringMode(s1);
    e.failWrites = (s0 & 0x80) && (s1 & 0x80);
    e.OnMBMasterEndOfEvent = [&](TMBStatus, const std::string&) {
        ++gAccepted;
        // Read what the application reads, from wherever the index stands.
        e.MBGetLongWord();
        e.MBGetSingle();
    };
    e.OnMBSlaveReceivedCommand = [&](std::uint8_t cmd, bool, std::uint16_t n) {
        ++gAccepted;
        for (std::uint16_t k = 0; k < n && k < 64; ++k)
            e.MBPutByte(e.MBGetByte());
        e.setMBSlaveErrorCode(cmd);
    };
    e.OnMBReceivedAByte = [&](std::uint16_t) { e.MBGetWord(); };
    e.OnMBReceivedAString = [&](const std::string& s) {
        if (s.size() > static_cast<std::size_t>(TMBFrameCore::kRxBufferSize))
            Fail("string length");
    };
    e.OnMBDiagnosticReceivedAFrame = [&](std::uint16_t) {
        ++gAccepted;
        e.MBGetWord();
    };
    e.Open();

    std::size_t i = 2;
    while (i < size) {
        const std::uint8_t ctl = data[i++];
        const std::size_t len = std::min<std::size_t>((ctl & 0x3F) + 1u, size - i);
        if (ctl & 0x40) {
            e.MBTXBufferClear();
            e.MBPutWord(ctl);
            e.MBStartQuery(0);
        }
        e.MBParseReceived(data + i, len);
        i += len;
        e.Check();
        if (ctl & 0x80)
            clock.advance(600);
        e.Check();
    }
    clock.advance(20000);
    e.Check();
    e.Close();
    e.Check();
}

} // namespace

#ifdef KV_FUZZ_REPLAY

#include "FuzzCorpus.h"

namespace {

struct Rng {
    std::uint64_t s = 0x9E3779B97F4A7C15ull;
    std::uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<std::uint32_t>(s);
    }
};

std::string WithCrc(std::string f) {
    const std::uint16_t crc = MBCRC16(f);
    f += static_cast<char>(crc & 0xFF);
    f += static_cast<char>(crc >> 8);
    return f;
}

// Wraps wire bytes into records of the input format.
std::string Records(const std::string& wire, Rng& r, bool starts) {
    std::string out;
    std::size_t i = 0;
    while (i < wire.size()) {
        const std::size_t len = std::min<std::size_t>(1 + r.Next() % 64, wire.size() - i);
        std::uint8_t ctl = static_cast<std::uint8_t>(len - 1);
        if (starts && i == 0)
            ctl |= 0x40;
        if (r.Next() % 8 == 0)
            ctl |= 0x80;
        out += static_cast<char>(ctl);
        out.append(wire, i, len);
        i += len;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const std::string seeds = kvfuzz::SeedDirArgument(argc, argv);
    Rng r;
    std::size_t runs = 0;
    for (int round = 0; round < 300; ++round) {
        for (int mode = 0; mode < 7; ++mode) {
            // A valid frame for the mode's receiver, with a few data bytes.
            std::string data;
            for (std::uint32_t k = r.Next() % 12; k > 0; --k)
                data += static_cast<char>(r.Next());
            std::string wire;
            const std::uint8_t addr = static_cast<std::uint8_t>(r.Next() % 4);
            switch (mode) {
            case modeASCIIMaster: {
                const std::string f = WithCrc(std::string{char(addr), char(r.Next() % 4), 5, char(r.Next())} + data);
                wire = TMBFrameCore::MBEncodeASCII('S', reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
                break;
            }
            case modeASCIISlave: {
                const std::string f = WithCrc(std::string{char(addr), char(r.Next() % 4), char(r.Next()), 0} + data);
                wire = TMBFrameCore::MBEncodeASCII('M', reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
                break;
            }
            case modeMaster:
            case modeDiagnostic: {
                const std::string f = WithCrc(std::string{char(0x80 | addr), char(r.Next() % 4), char(r.Next())} + data);
                wire = TMBFrameCore::MBEncodeBinary(reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
                break;
            }
            case modeSlave: {
                const std::string f = WithCrc(std::string{char(addr), char(r.Next() % 4), char(r.Next())} + data);
                wire = TMBFrameCore::MBEncodeBinary(reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
                break;
            }
            default: wire = data + "\r\n"; break;
            }
            wire += wire; // twice: the second one after whatever the first caused
            if (round % 3 == 1 && !wire.empty()) // mutate a few bytes
                for (int m = 0; m < 3; ++m)
                    wire[r.Next() % wire.size()] ^= static_cast<char>(1u << (r.Next() % 8));
            if (round % 3 == 2) // and some plain noise
                for (int m = 0; m < 40; ++m)
                    wire += static_cast<char>(r.Next());
            std::string input;
            input += static_cast<char>((r.Next() & 0xF8) | static_cast<std::uint32_t>(mode));
            input += static_cast<char>((addr & 0x0F) | ((addr & 0x0F) << 4) | (r.Next() & 0x80));
            input += Records(wire, r, round % 2 == 0);
            RunOne(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
            if (round < 6) // every mode, whole, mutated and noisy, with and without a start
                kvfuzz::WriteSeed(seeds, "gen", runs, reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
            ++runs;
        }
    }
    // One long frame that fills the assembly buffer.
    std::string big = "S01";
    for (int k = 0; k < 8300; ++k)
        big += "5A";
    big += ";";
    std::string input = std::string{char(modeASCIIMaster), 1};
    input += Records(big, r, true);
    RunOne(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    kvfuzz::WriteSeed(seeds, "full-assembly", 0, reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    const std::size_t stored = kvfuzz::ReplayCorpus(KV_FUZZ_CORPUS_DIR, RunOne);
    std::printf("fuzz_receivers: %zu inputs replayed (%zu of the corpus), %zu events\n", runs + 1 + stored, stored,
                gAccepted);
    return gAccepted > 0 ? 0 : 1;
}

#else

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunOne(data, size);
    return 0;
}

#endif
