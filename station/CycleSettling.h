#pragma once
// When the device's own measurements count after a change on its input: a
// new connection by the fixture, a new switch configuration forced by the
// poll, new settings. The rule the input calibration and the verification
// share, on the device's measuring-cycle counter (the poll answer's Cycles,
// which wraps at 255):
//
//   - the change is in force from the second poll answered after it (the
//     first may have been composed before it);
//   - from that answer on the device must report kCycles new measuring
//     cycles: its averages are of the last four measurements, and one more
//     covers a measurement that straddled the change;
//   - a device that does not measure them within kPolls polls has stopped
//     measuring: the step or point fails.
//
// Then the measurements are taken one per measuring cycle: a poll that
// reports the same cycle again brings the same measurement, and counting it
// twice would make the readings look steadier than they are.
//
// Plain C++: the poll's counter in, a state out.
#include <cstdint>
#include <optional>

namespace kv::station {

class TCycleSettling {
public:
    static constexpr int kCycles = 5;
    static constexpr int kPolls = 400; // about 20 s at the line's pace

    enum class TState : std::uint8_t { More, Settled, TimedOut };

    // A change was made (the next answered poll is the first after it).
    void Start();
    // Each answered poll's cycle counter, until Settled or TimedOut.
    TState Add(std::uint8_t cycles);

private:
    int polls_ = 0;
    std::optional<std::uint8_t> from_;
};

// New measurements, one per measuring cycle, within kPolls polls.
class TNewMeasurements {
public:
    void Start();
    enum class TState : std::uint8_t {
        Same,     // the same measurement again: not counted
        New,      // a new one: count it
        TimedOut, // no new one within TCycleSettling::kPolls polls
    };
    TState Add(std::uint8_t cycles);

private:
    int polls_ = 0;
    std::optional<std::uint8_t> last_;
};

} // namespace kv::station
