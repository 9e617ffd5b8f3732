#include "CycleSettling.h"

namespace kv::station {

void TCycleSettling::Start() {
    polls_ = 0;
    from_.reset();
}

TCycleSettling::TState TCycleSettling::Add(std::uint8_t cycles) {
    if (++polls_ > kPolls)
        return TState::TimedOut;
    if (polls_ < 2)
        return TState::More; // composed before the change, perhaps
    if (!from_) {
        from_ = cycles;
        return TState::More;
    }
    return std::uint8_t(cycles - *from_) >= kCycles ? TState::Settled : TState::More;
}

void TNewMeasurements::Start() {
    polls_ = 0;
    last_.reset();
}

TNewMeasurements::TState TNewMeasurements::Add(std::uint8_t cycles) {
    if (++polls_ > TCycleSettling::kPolls)
        return TState::TimedOut;
    if (last_ && *last_ == cycles)
        return TState::Same;
    last_ = cycles;
    return TState::New;
}

} // namespace kv::station
