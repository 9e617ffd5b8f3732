// Fuzz target: the transmitter's records and the simulated device, fed
// untrusted bytes as a garbled line would deliver them.
//
// Input: records of [command][length][data ...][advance]: the device model
// handles each as a request (length capped to what is left), then its clock
// moves `advance` x 100 ms on (restarts, drift, maintenance timing). Every
// data block is also decoded as each record kind and encoded again. At most
// kMaxRequests records of an input are used: longer sequences add no paths
// of their own, and inputs with thousands of requests slowed the search
// down tenfold.
//
// With KV_FUZZ this is a libFuzzer target; otherwise a replay program that
// runs generated inputs (valid records of every kind, then mutated) and is
// registered as a test.
#include "DeviceModel.h"
#include "DeviceRecords.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_device: invariant broken: %s\n", what);
    std::abort();
}

template <class Record> void RoundTrip(std::span<const std::uint8_t> bytes) {
    const auto encoded = Record::Decode(bytes).Encode();
    if (encoded.size() != Record::Size)
        Fail("an encoded record has the wrong size");
    // What was decoded from a whole record encodes back to the same fields.
    if (Record::Decode(encoded).Encode() != encoded)
        Fail("decode(encode(x)) changed a record");
}

constexpr int kMaxRequests = 64;

void RunOne(const std::uint8_t* data, std::size_t size) {
    kvsim::TDeviceModel model;
    std::size_t i = 0;
    for (int requests = 0; i + 2 <= size && requests < kMaxRequests; ++requests) {
        const std::uint8_t command = data[i];
        std::size_t n = data[i + 1];
        i += 2;
        if (n > size - i)
            n = size - i;
        const std::span<const std::uint8_t> block(data + i, n);
        i += n;
        RoundTrip<kv::PollRequest>(block);
        RoundTrip<kv::PollAnswer>(block);
        RoundTrip<kv::SettingsRecord>(block);
        RoundTrip<kv::InputCalibrationRecord>(block);
        RoundTrip<kv::OutputCalibrationRecord>(block);
        if (auto answer = model.Handle(command, block)) {
            if (command == kv::cmdPoll && answer->ErrorCode == 0 && answer->Data.size() != kv::PollAnswer::Size)
                Fail("a poll answer is not 82 bytes");
            if (answer->Data.size() > 8187)
                Fail("an answer does not fit a frame");
        }
        if (i < size)
            model.Advance(100u * data[i++]);
    }
}

} // namespace

#ifdef KV_FUZZ_REPLAY
#include "FuzzCorpus.h"

int main(int argc, char** argv) {
    const std::string seedDir = kvfuzz::SeedDirArgument(argc, argv);
    std::mt19937 rng(20261207);
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](std::uint8_t command, const std::vector<std::uint8_t>& body, std::uint8_t advance) {
        std::vector<std::uint8_t> s{command, static_cast<std::uint8_t>(body.size())};
        s.insert(s.end(), body.begin(), body.end());
        s.push_back(advance);
        seeds.push_back(s);
    };
    kv::PollRequest poll;
    poll.Year = 2026;
    poll.Month = 12;
    poll.Day = 7;
    for (int bit = 0; bit < 8; ++bit) {
        poll.MaintenanceBits = static_cast<std::uint8_t>(1u << bit);
        poll.FETControl = static_cast<std::uint8_t>(0x80 | bit * 17);
        add(kv::cmdPoll, poll.Encode(), static_cast<std::uint8_t>(bit * 9));
    }
    for (std::uint8_t mode = 0; mode < 10; ++mode) {
        kv::SettingsRecord s;
        s.Mode = mode;
        add(kv::cmdWriteSettings, s.Encode(), 1);
    }
    add(kv::cmdWriteInputCalibration, kv::InputCalibrationRecord{}.Encode(), 0);
    add(kv::cmdWriteOutputCalibration, kv::OutputCalibrationRecord{}.Encode(), 0);
    for (int c : {int{kv::cmdReadFactoryDefaults}, int{kv::cmdReadSettings}, 0, 255})
        add(static_cast<std::uint8_t>(c), {}, 3);

    std::size_t runs = 0;
    for (const auto& s : seeds) {
        RunOne(s.data(), s.size());
        kvfuzz::WriteSeed(seedDir, "record", runs, s.data(), s.size());
        ++runs;
    }
    // Sequences of seeds, then mutations of them.
    for (int k = 0; k < 600; ++k) {
        std::vector<std::uint8_t> in;
        const int parts = 1 + static_cast<int>(rng() % 6);
        for (int p = 0; p < parts; ++p) {
            const auto& s = seeds[rng() % seeds.size()];
            in.insert(in.end(), s.begin(), s.end());
        }
        const int flips = static_cast<int>(rng() % 8);
        for (int f = 0; f < flips && !in.empty(); ++f)
            in[rng() % in.size()] = static_cast<std::uint8_t>(rng());
        if (rng() % 4 == 0)
            in.resize(rng() % (in.size() + 1));
        RunOne(in.data(), in.size());
        if (k < 24)
            kvfuzz::WriteSeed(seedDir, "sequence", runs, in.data(), in.size());
        ++runs;
    }
    const std::size_t stored = kvfuzz::ReplayCorpus(KV_FUZZ_CORPUS_DIR, RunOne);
    std::printf("fuzz_device: %zu inputs replayed (%zu of the corpus)\n", runs + stored, stored);
    return 0;
}
#else
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunOne(data, size);
    return 0;
}
#endif
