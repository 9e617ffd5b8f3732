#include "FrameTrace.h"

#include "MBFrames.h"

#include <cstdio>
#include <vector>

namespace kvctl {

namespace {

// A frame longer than the link's largest is no frame: it is cut off and
// logged as damaged, so that a line full of garbage cannot grow the log's
// memory without end.
constexpr std::size_t kMaxWire = 2 + 2 * TMBFrameCore::kTxFrameSize;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

std::string Printable(std::string_view bytes) {
    std::string s;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            s += static_cast<char>(c);
        } else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            s += b;
        }
    }
    return s;
}

} // namespace

TFrameTrace::TFrameTrace(std::function<void(const std::string&)> out, std::function<double()> now)
    : out_(std::move(out)), now_(std::move(now)) {}

std::string TFrameTrace::Stamp() {
    const double t = now_();
    const double gap = last_ < 0 ? 0.0 : t - last_;
    last_ = t;
    char b[64];
    std::snprintf(b, sizeof b, "%12.6f  +%.6f  ", t, gap);
    return b;
}

void TFrameTrace::Sent(std::string_view bytes, int tryNumber) {
    try_ = tryNumber;
    Feed(tx_, bytes, true);
}

void TFrameTrace::Received(std::string_view bytes) { Feed(rx_, bytes, false); }

void TFrameTrace::TimedOut(int tryNumber) {
    // A frame cut short by the silence is part of the record.
    if (!rx_.pending.empty()) {
        rx_.noise += rx_.pending;
        rx_.pending.clear();
    }
    Noise(rx_, false);
    out_(Stamp() + "--  try " + std::to_string(tryNumber) + "  time-out: no answer");
}

void TFrameTrace::Note(const std::string& text) { out_(Stamp() + "##  " + text); }

void TFrameTrace::Feed(TStream& s, std::string_view bytes, bool tx) {
    for (char c : bytes) {
        if (c == 'M' || c == 'S') {
            // A start character begins a frame again, whatever came before.
            if (!s.pending.empty())
                s.noise += s.pending;
            Noise(s, tx);
            s.pending.assign(1, c);
        } else if (!s.pending.empty()) {
            s.pending += c;
            if (c == ';') {
                Noise(s, tx);
                Frame(s.pending, tx);
                s.pending.clear();
            } else if (s.pending.size() > kMaxWire) {
                s.noise += s.pending;
                s.pending.clear();
            }
        } else {
            s.noise += c;
        }
    }
    // Bytes outside a frame are shown when the chunk ends, so that a frame
    // split over two chunks is not taken for noise.
    Noise(s, tx);
}

void TFrameTrace::Noise(TStream& s, bool tx) {
    if (s.noise.empty())
        return;
    out_(Stamp() + (tx ? "TX" : "RX") + "  noise[" + std::to_string(s.noise.size()) + "] " +
         Printable(s.noise.substr(0, 64)) + (s.noise.size() > 64 ? "..." : ""));
    s.noise.clear();
}

void TFrameTrace::Frame(const std::string& wire, bool tx) {
    std::string line = Stamp() + (tx ? "TX" : "RX");
    if (tx)
        line += "  try " + std::to_string(try_);
    const std::string_view digits(wire.data() + 1, wire.size() - 2);
    std::vector<std::uint8_t> frame;
    bool hexOk = digits.size() % 2 == 0;
    for (std::size_t i = 0; hexOk && i + 1 < digits.size(); i += 2) {
        const int hi = HexDigit(digits[i]), lo = HexDigit(digits[i + 1]);
        if (hi < 0 || lo < 0)
            hexOk = false;
        else
            frame.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    if (!hexOk) {
        out_(line + "  damaged: not a frame of hexadecimal digit pairs: " + Printable(wire.substr(0, 64)));
        return;
    }
    if (frame.size() < 6) {
        out_(line + "  damaged: " + std::to_string(frame.size()) + " bytes, shorter than a frame: " +
             Printable(wire));
        return;
    }
    const std::size_t n = frame.size() - 6;
    char head[96];
    std::snprintf(head, sizeof head, "  addr %u  id %u  cmd %u  err %u  data[%zu]", frame[0], frame[1], frame[2],
                  frame[3], n);
    line += head;
    if (n)
        line += ' ' + Hex(frame.data() + 4, n);
    const std::uint16_t crc = MBCRC16(frame.data(), frame.size() - 2);
    const std::uint16_t got = static_cast<std::uint16_t>(frame[frame.size() - 2] | frame[frame.size() - 1] << 8);
    if (crc == got) {
        line += "  crc ok";
    } else {
        char b[64];
        std::snprintf(b, sizeof b, "  crc BAD (frame %04X, computed %04X)", got, crc);
        line += b;
    }
    out_(line);
}

} // namespace kvctl
