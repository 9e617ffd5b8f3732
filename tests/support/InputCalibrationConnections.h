#pragma once
// What the picture of each input calibration step asks the operator to
// connect, as the simulator's console line that connects it (kvsim's
// standard input, or TInProcessDevice::Console). The README's table says the
// same for people.
#include <string_view>

namespace kvtest {

inline std::string_view InputCalibrationConnection(int step) {
    switch (step) {
    case 1: case 2: case 3: case 5: return "sensor open";                             // pictures A, B
    case 6: case 7: case 13: case 15: case 18: return "sensor resistor 500";          // C, E, G
    case 10: case 11: case 16: case 17: case 19: return "sensor resistor 5000";       // D, F, H
    case 20: case 21: return "sensor short";                                          // I
    case 22: return "sensor voltage 125";                                             // J
    default: return {};
    }
}

} // namespace kvtest
