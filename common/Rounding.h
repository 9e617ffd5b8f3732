#pragma once
#include <cstdint>

namespace kv {

// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
// The transmitter's PWM values, the link's sending time and the bar geometry
// all round this way; keep it the one rounding in the program.
std::int64_t RoundHalfEven(double x);

} // namespace kv
