#pragma once
// The input calibration a device holds, compared constant by constant with
// what a faultless calibration finds on its simulated board (kvsim's console
// words "calibration" and "board"): every constant the record carries, not
// only those a 4-wire measurement or the millivolt path uses, so that a step
// that took a neighbour's offset shows even where no check of the run looks.
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kvtest {

// kvsim's "NAME=value NAME=value ..." after the word ("calibration",
// "board") that its console answers with.
inline std::map<std::string, double> ConsoleFields(const std::string& line) {
    std::map<std::string, double> fields;
    std::istringstream in(line);
    std::string pair;
    in >> pair; // the word
    while (in >> pair) {
        const std::size_t eq = pair.find('=');
        if (eq != std::string::npos)
            fields[pair.substr(0, eq)] = std::strtod(pair.c_str() + eq + 1, nullptr);
    }
    return fields;
}

// How far a faultless run may land from the board: the offsets are whole
// counts of averages over four measurements (a count either way); the
// reference resistances, gains and the converter's reference are ratios of
// such averages, to a few parts per million. A step that takes another
// range's offset moves a 3-wire reference by about 5e-4.
struct TConstantTolerance {
    const char* name;
    double counts;   // absolute, for the offsets and the zero count
    double relative; // for the others
};
inline constexpr TConstantTolerance kConstants[] = {
    {"OFFSET_CH0", 2, 0},         {"OFFSET_CH1_REF_500", 2, 0}, {"OFFSET_CH1_REF_5K", 2, 0},
    {"OFFSET_CH1_3W_500", 2, 0},  {"OFFSET_CH1_3W_5K", 2, 0},   {"RREF_500_3W", 0, 2e-5},
    {"RREF_500_2W", 0, 2e-5},     {"RREF_500_4W", 0, 2e-5},     {"RREF_5K_4W", 0, 2e-5},
    {"RREF_5K_3W", 0, 2e-5},      {"RREF_5K_2W", 0, 2e-5},      {"UREF", 0, 2e-5},
    {"EA_500", 0, 2e-5},          {"EA_5K", 0, 2e-5},           {"AZ0", 2, 0},
    {"OFFSET_CH0_G4", 2, 0},      {"OFFSET_CH0_3W_500", 2, 0},  {"OFFSET_CH0_3W_5K", 2, 0},
};

// One message for each constant that is missing or off, naming it with
// both values; empty when every one of the eighteen agrees.
inline std::vector<std::string> ConstantsOffTheBoard(const std::map<std::string, double>& stored,
                                                     const std::map<std::string, double>& board) {
    std::vector<std::string> off;
    for (const TConstantTolerance& c : kConstants) {
        const auto s = stored.find(c.name), b = board.find(c.name);
        if (s == stored.end() || b == board.end()) {
            off.push_back(std::string(c.name) + " is missing");
            continue;
        }
        const double diff = std::fabs(s->second - b->second);
        const double allowed = c.counts > 0 ? c.counts : c.relative * std::fabs(b->second);
        if (!(diff <= allowed)) {
            char text[200];
            std::snprintf(text, sizeof text, "%s written %.9g, the board's %.9g (off by %.3g, %.2g of it)", c.name,
                          s->second, b->second, s->second - b->second, diff / std::fabs(b->second));
            off.push_back(text);
        }
    }
    return off;
}

// The largest relative difference of the ratio constants, for a test's
// report.
inline double LargestRatioDifference(const std::map<std::string, double>& stored,
                                     const std::map<std::string, double>& board) {
    double largest = 0;
    for (const TConstantTolerance& c : kConstants)
        if (c.relative > 0 && stored.count(c.name) && board.count(c.name))
            largest = std::max(largest, std::fabs(stored.at(c.name) / board.at(c.name) - 1.0));
    return largest;
}

} // namespace kvtest
