#pragma once
// TFrameTrace: kvctl's decoded frame log (--trace FILE). It watches the bytes
// as they go to and come from the port, cuts them into the link's ASCII
// frames ("M" or "S", hexadecimal digits, ";"), and writes one line per frame:
//
//   <seconds since start>  +<gap since the previous line>  TX|RX  try N
//   addr A  id I  cmd C  err E  data[n] XX XX ...  crc ok|BAD
//
// Damaged frames (bad digits, too short, bad CRC), bytes outside any frame
// and the link's time-outs get their own lines, so a misbehaving device
// leaves a complete record. The clock is handed in (monotonic seconds), so
// the log is plain text processing that tests drive directly. It watches the
// link as its wire observer.
#include "MBLink.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace kvctl {

class TFrameTrace : public TMBWireObserver {
public:
    // `out` receives whole lines; `now` gives monotonic seconds.
    TFrameTrace(std::function<void(const std::string& line)> out, std::function<double()> now);

    // Bytes written to the port by the try `tryNumber` of a request.
    void Sent(std::string_view bytes, int tryNumber) override;
    // Bytes read from the port.
    void Received(std::string_view bytes) override;
    // The try `tryNumber` got no answer in time.
    void TimedOut(int tryNumber) override;
    // A free note (port opened, hung up, ...).
    void Note(const std::string& text) override;

private:
    struct TStream {
        std::string pending; // bytes of a frame not yet ended
        std::string noise;   // bytes outside any frame
    };
    void Feed(TStream& s, std::string_view bytes, bool tx);
    void Frame(const std::string& wire, bool tx);
    void Noise(TStream& s, bool tx);
    std::string Stamp();

    std::function<void(const std::string&)> out_;
    std::function<double()> now_;
    double last_ = -1;
    int try_ = 0;
    TStream tx_, rx_;
};

} // namespace kvctl
