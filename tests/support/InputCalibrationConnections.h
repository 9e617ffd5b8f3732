#pragma once
// What the picture of each input calibration step asks the operator to
// connect, as the simulator's console line that connects it (kvsim's
// standard input, or TInProcessDevice::Console), with the wizard's default
// references. The step table holds the connection; the README's table says
// the same for people.
#include "InputCalibrationWizard.h"

#include <string>

namespace kvtest {

inline std::string InputCalibrationConnection(int step) {
    for (const kv::incal::TStep& s : kv::incal::kSteps) {
        if (s.Number != step || s.Connection == kv::incal::connNone)
            continue;
        std::string line = "sensor";
        for (const std::string& w : kv::incal::ConnectionWords(s.Connection, 500, 5000, 125))
            line += ' ' + w;
        return line;
    }
    return {};
}

} // namespace kvtest
