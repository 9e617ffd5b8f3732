// The link in real time over a pair of pseudo-terminals (the same pair and
// relay as the real-time test), two TMB components at 115200 baud with the
// system's port and Qt's precise timers. Prints:
//  - how late the 20 ms start delay of the poll cycle sends: from
//    MBStartQuery(20) to the engine's first write to the port, and to the
//    first byte of the request read at the other end of the master's pty;
//  - the transaction time master -> slave -> master with no start delay,
//    ASCII and binary (ptys are not paced, so this is the software's share
//    of a transaction: both receive threads, both hand-overs, both engines).
// Figures only; nothing passes or fails on time.
//
//   bench_link_rt [samples]      (default 300 delayed starts, 1000 transactions)
#include "link_rt_support.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using kvrt::TClock;

double Micros(TClock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void Print(const char* what, std::vector<double> v) {
    if (v.empty()) {
        std::printf("%-58s no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        const auto i = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
        return v[std::min(i, v.size() - 1)];
    };
    std::printf("%-58s n=%4zu  min %8.1f  median %8.1f  p99 %8.1f  max %8.1f us\n", what, v.size(), v.front(),
                at(0.5), at(0.99), v.back());
}

struct Samples {
    std::vector<double> hookLateness;  // write hook - (start + delay)
    std::vector<double> lineLateness;  // first byte at the far master - (start + delay)
    std::vector<double> transaction;   // start - end event
    std::vector<double> shortOnes;     // of those, requests of up to 45 data bytes
    std::vector<double> longOnes;      // and of 166 or more
    int failures = 0;
};

// Runs `count` transactions from the end event, each started with `delayMs`.
Samples Run(TMBMode masterMode, TMBMode slaveMode, kvrt::TFraming framing, int count, std::uint16_t delayMs) {
    Samples s;
    kvrt::TLinkPair link;
    if (!link.Open(masterMode, slaveMode, framing)) {
        std::fprintf(stderr, "bench_link_rt: %s\n", link.error.c_str());
        s.failures = count;
        return s;
    }
    std::uint32_t served = 0;
    int bad = 0;
    kvrt::InstallEchoSlave(link.slave, served, bad);
    kvrt::TRtMB& m = link.master;
    std::uint32_t k = 0;
    TClock::time_point started;
    const auto delay = std::chrono::milliseconds(delayMs);
    const auto start = [&] {
        ++k;
        kvrt::PutEchoRequest(m, k);
        m.ArmWriteStamp();
        started = TClock::now();
        m.MBStartQuery(delayMs);
    };
    m.OnMBMasterEndOfEvent = [&](TMBStatus status, const std::string&) {
        const auto ended = TClock::now();
        if (status != stOK || !kvrt::CheckEchoAnswer(m, k, served))
            ++s.failures;
        const double t = Micros(ended - started);
        s.transaction.push_back(t);
        const int size = 6 + kvrt::EchoLength(k);
        if (size <= 45)
            s.shortOnes.push_back(t);
        else if (size >= 166)
            s.longOnes.push_back(t);
        if (m.writeStamp)
            s.hookLateness.push_back(Micros(*m.writeStamp - started - delay));
        if (const auto first = link.relay->RequestStart(static_cast<int>(k)))
            s.lineLateness.push_back(Micros(*first - started - delay));
        if (static_cast<int>(k) < count)
            start();
    };
    start();
    kvrt::WaitUntil([&] { return s.transaction.size() >= static_cast<std::size_t>(count); },
                    count * (delayMs + 1000));
    link.Close();
    s.failures += bad + (count - static_cast<int>(s.transaction.size()));
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;

    std::printf("Link over a pty pair at 115200 baud, requests of 6..205 data bytes\n");
    const Samples d = Run(modeASCIIMaster, modeASCIISlave, kvrt::TFraming::ascii, samples, 20);
    Print("start delay 20 ms: lateness of the first write", d.hookLateness);
    Print("start delay 20 ms: lateness of the first byte at the far end", d.lineLateness);
    Print("start delay 20 ms: start to end event (20 ms included)", d.transaction);

    const int n = samples * 10 / 3;
    const Samples a = Run(modeASCIIMaster, modeASCIISlave, kvrt::TFraming::ascii, n, 0);
    Print("ASCII transaction, no delay: start to end event", a.transaction);
    Print("  of those with 6..45 data bytes", a.shortOnes);
    Print("  of those with 166..205 data bytes", a.longOnes);
    const Samples b = Run(modeMaster, modeSlave, kvrt::TFraming::binary, n, 0);
    Print("binary transaction, no delay: start to end event", b.transaction);
    Print("  of those with 6..45 data bytes", b.shortOnes);
    Print("  of those with 166..205 data bytes", b.longOnes);

    const int failures = d.failures + a.failures + b.failures;
    if (failures)
        std::printf("%d transactions failed or were wrong\n", failures);
    return failures ? 1 : 0;
}
