#include "BenchMeter.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kvsim {

namespace {

// Queued input beyond this many bytes is an overrun, as a meter's input
// buffer has its end.
constexpr std::size_t kInputBuffer = 4096;

enum TAction : std::uint8_t {
    actIdentify, actReset, actClear, actComplete, actError, actRemote, actLocal, actCurrent, actVoltage
};

// The command tree: each header as its nodes, long form with the short form
// in capitals, optional nodes in brackets, a query ending in "?".
struct TCommand {
    const char* pattern;
    TAction action;
    bool takesRangeAndResolution;
};

constexpr std::array<TCommand, 9> kCommands{{
    {"*IDN?", actIdentify, false},
    {"*RST", actReset, false},
    {"*CLS", actClear, false},
    {"*OPC?", actComplete, false},
    {"SYSTem:ERRor[:NEXT]?", actError, false},
    {"SYSTem:REMote", actRemote, false},
    {"SYSTem:LOCal", actLocal, false},
    {"MEASure:CURRent[:DC]?", actCurrent, true},
    {"MEASure:VOLTage[:DC]?", actVoltage, true},
}};

std::string Upper(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = s.find(sep, from);
        parts.push_back(s.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos)
            return parts;
        from = at + 1;
    }
}

// A node of a pattern ("MEASure") taken by its long form or its short form
// (the capitals), nothing in between.
bool NodeMatches(std::string_view node, std::string_view word) {
    std::size_t shortLength = 0;
    while (shortLength < node.size() && std::isupper(static_cast<unsigned char>(node[shortLength])))
        ++shortLength;
    const std::string w = Upper(word);
    const std::string full = Upper(node);
    return w == full || w == full.substr(0, shortLength);
}

// Does a header (without "?" and leading colon) name this pattern's nodes?
bool HeaderMatches(std::string_view pattern, std::string_view header) {
    if (pattern.front() == '*')
        return Upper(header) == Upper(pattern);
    struct TNode {
        std::string_view name;
        bool optional;
    };
    std::vector<TNode> nodes;
    for (std::string_view n : Split(pattern, ':')) {
        // "ERRor[" and "NEXT]": brackets around a node make it optional.
        const bool opens = !n.empty() && n.back() == '[';
        const bool closes = !n.empty() && n.back() == ']';
        if (opens || closes)
            n.remove_suffix(1);
        if (!nodes.empty() && nodes.back().optional && nodes.back().name.empty())
            nodes.back().name = n;
        else
            nodes.push_back({n, false});
        if (opens)
            nodes.push_back({{}, true});
    }
    const std::vector<std::string_view> words = Split(header, ':');
    std::size_t w = 0;
    for (const TNode& node : nodes) {
        if (w < words.size() && NodeMatches(node.name, words[w]))
            ++w;
        else if (!node.optional)
            return false;
    }
    return w == words.size();
}

// A range or resolution parameter: a keyword or a number.
bool RangeParameter(std::string_view p) {
    static const char* const kWords[] = {"AUTO", "DEF", "DEFAULT", "MIN", "MINIMUM", "MAX", "MAXIMUM"};
    const std::string u = Upper(p);
    for (const char* k : kWords)
        if (u == k)
            return true;
    double v = 0;
    if (!p.empty() && p.front() == '+')
        p.remove_prefix(1);
    const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), v);
    return ec == std::errc() && end == p.data() + p.size() && std::isfinite(v) && v >= 0.0;
}

bool HeaderCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '*' || c == ':' || c == '?' || c == '_';
}

} // namespace

bool TScpiReply::Measures() const {
    return std::any_of(Parts.begin(), Parts.end(), [](const TPart& p) { return p.Reading; });
}

TBenchMeter::TBenchMeter(std::uint64_t seed, std::string serial)
    : rng_(seed ^ 0x6D657465725EEDull), serial_(std::move(serial)) {}

bool TBenchMeter::SetResolution(double ampere, double volt) {
    if (!(ampere > 0.0 && ampere <= 1.0 && volt > 0.0 && volt <= 1.0)) // also NaN
        return false;
    currentResolution_ = ampere;
    voltageResolution_ = volt;
    return true;
}

bool TBenchMeter::SetNoise(double counts) {
    if (!(counts >= 0.0 && counts <= 1e6))
        return false;
    noiseCounts_ = counts;
    return true;
}

bool TBenchMeter::SetIntegration(std::uint32_t ms) {
    if (ms < 1 || ms > kMaxIntegrationMs)
        return false;
    integrationMs_ = ms;
    return true;
}

void TBenchMeter::RequireRemote(bool on) {
    remoteRequired_ = on;
    if (on)
        remote_ = false;
}

bool TBenchMeter::SetDrift(double ppmPerSecond, std::uint64_t sinceMs) {
    if (!(std::fabs(ppmPerSecond) <= kMaxDriftPPM)) // also NaN
        return false;
    driftPPM_ = ppmPerSecond;
    driftSince_ = sinceMs;
    return true;
}

std::string TBenchMeter::Prompt() const {
    if (!terminal_)
        return {};
    return lineError_ == 0 ? "=>\n" : lineError_ == 1 ? "?>\n" : "!>\n";
}

std::string TBenchMeter::Identity() const {
    return "KVSIM,BENCH METER 6.5 DIGIT (SIMULATED)," + serial_ + ",1.0";
}

void TBenchMeter::Error(int code, const char* text) {
    lineError_ = std::max(lineError_, code <= -100 && code > -200 ? 1 : 2);
    if (errors_.size() >= kErrorQueue) {
        errors_.back() = "-350,\"Queue overflow\"";
        return;
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "%+d,\"%s\"", code, text);
    errors_.emplace_back(buf);
}

void TBenchMeter::Receive(std::string_view bytes) {
    std::size_t queued = pending_.size();
    for (const TLine& l : lines_)
        queued += l.Text.size();
    for (char c : bytes) {
        if (c == '\n') {
            if (!overrun_) {
                const bool cr = !pending_.empty() && pending_.back() == '\r';
                if (cr)
                    pending_.pop_back();
                lines_.push_back({std::move(pending_), cr});
            }
            pending_.clear();
            overrun_ = false;
            continue;
        }
        if (overrun_)
            continue;
        if (pending_.size() >= kMaxLine || queued >= kInputBuffer) {
            Error(-363, "Input buffer overrun");
            queued -= pending_.size();
            pending_.clear();
            overrun_ = true;
            continue;
        }
        pending_.push_back(c);
        ++queued;
    }
}

bool TBenchMeter::NextLine(std::string& line, std::string* ending) {
    if (lines_.empty())
        return false;
    line = std::move(lines_.front().Text);
    if (ending)
        *ending = lines_.front().CarriageReturn ? "\r\n" : "\n";
    lines_.pop_front();
    return true;
}

TScpiReply TBenchMeter::Execute(std::string_view line) {
    TScpiReply reply;
    lineError_ = 0;
    bool heard = !Local(); // a blank line too, unless the meter is deaf to it
    for (std::string_view unit : Split(line, ';')) {
        unit = Trim(unit);
        if (unit.empty())
            continue; // "*RST;" or a blank line
        std::size_t end = 0;
        while (end < unit.size() && !std::isspace(static_cast<unsigned char>(unit[end])))
            ++end;
        std::string_view header = unit.substr(0, end);
        const std::string_view rest = Trim(unit.substr(end));
        const bool wellFormed = std::all_of(header.begin(), header.end(), HeaderCharacter);
        const bool query = !header.empty() && header.back() == '?';
        if (query)
            header.remove_suffix(1);
        if (!header.empty() && header.front() == ':')
            header.remove_prefix(1);
        const TCommand* found = nullptr;
        for (const TCommand& c : kCommands) {
            std::string_view pattern = c.pattern;
            const bool patternQuery = pattern.back() == '?';
            if (patternQuery)
                pattern.remove_suffix(1);
            if (wellFormed && patternQuery == query && !header.empty() && HeaderMatches(pattern, header)) {
                found = &c;
                break;
            }
        }
        // Local while remote is required: nothing but the remote command
        // reaches the meter from its serial line.
        if (Local() && !(found && found->action == actRemote))
            continue;
        heard = true;
        if (!wellFormed) {
            Error(-102, "Syntax error");
            break;
        }
        if (!found) {
            Error(-113, "Undefined header");
            break;
        }
        if (!rest.empty()) {
            const std::vector<std::string_view> params = Split(rest, ',');
            if (!found->takesRangeAndResolution || params.size() > 2) {
                Error(-108, "Parameter not allowed");
                break;
            }
            if (!std::all_of(params.begin(), params.end(), [](std::string_view p) { return RangeParameter(Trim(p)); })) {
                Error(-224, "Illegal parameter value");
                break;
            }
        }
        switch (found->action) {
        case actIdentify: reply.Parts.push_back({Identity()}); break;
        case actReset: break;
        case actClear: errors_.clear(); break;
        case actComplete: reply.Parts.push_back({"1"}); break;
        case actError:
            if (errors_.empty()) {
                reply.Parts.push_back({"+0,\"No error\""});
            } else {
                reply.Parts.push_back({errors_.front()});
                errors_.pop_front();
            }
            break;
        case actRemote: remote_ = true; break;
        case actLocal: remote_ = false; break;
        case actCurrent: reply.Parts.push_back({{}, true, quantityCurrent}); break;
        case actVoltage: reply.Parts.push_back({{}, true, quantityVoltage}); break;
        }
    }
    reply.Ignored = !heard;
    return reply;
}

std::string TBenchMeter::Answer(const TScpiReply& reply, const TMeterSample& sample) {
    std::string out;
    for (const TScpiReply::TPart& p : reply.Parts) {
        if (!out.empty())
            out += ';';
        if (!p.Reading) {
            out += p.Text;
            continue;
        }
        const bool current = p.Quantity == quantityCurrent;
        const double resolution = current ? currentResolution_ : voltageResolution_;
        const bool connected = wiring_ == wiredBoth || (wiring_ == wiredCurrent) == current;
        double value = !connected ? 0.0 : current ? sample.Output.MilliAmp / 1000.0 : sample.Output.Volt;
        if (sample.AtMs > driftSince_)
            value *= 1.0 + driftPPM_ * 1e-6 * static_cast<double>(sample.AtMs - driftSince_) / 1000.0;
        // Drawn also on an overload, so that the readings after it are the
        // same as without it.
        const double noise = rng_.Gaussian() * noiseCounts_ * resolution;
        out += FormatReading(overload_ ? NAN : value + noise, resolution);
        if (errorsOnReadings_)
            Error(-221, "Settings conflict");
    }
    if (!reply.Parts.empty())
        out += '\n';
    return out;
}

std::string TBenchMeter::FormatReading(double value, double resolution) {
    if (!std::isfinite(value))
        return "+9.90000000E+37"; // the overload reading
    const double counts = std::round(value / resolution);
    const double rounded = counts * resolution;
    // As many digits as the resolution carries: 4.012345 mA at 1 nA has its
    // last digit in the 1e-9 place, six places after the leading digit.
    const int resolutionPlace = static_cast<int>(std::floor(std::log10(resolution) + 1e-9));
    const int leadingPlace = counts == 0.0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(rounded))));
    // Zero has no leading digit: six places, as a reading in the milli range.
    const int decimals = counts == 0.0 ? 6 : std::clamp(leadingPlace - resolutionPlace, 0, 15);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%+.*E", decimals, counts == 0.0 ? 0.0 : rounded);
    return buf;
}

} // namespace kvsim
