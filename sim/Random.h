#pragma once
// The simulator's seeded random numbers: the same seed gives the same
// sequence on every run and machine, so tests see the same noise every time.
// xorshift64* seeded through splitmix64, so that nearby seeds (1, 2, 3) give
// unrelated streams.
#include <cmath>
#include <cstdint>
#include <numbers>

namespace kvsim {

class TRandom {
public:
    explicit TRandom(std::uint64_t seed) {
        std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        state_ = (z ^ (z >> 31)) | 1; // never 0, which xorshift would keep
    }

    // Uniform in the open interval (0, 1).
    double Uniform() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return (static_cast<double>((state_ * 0x2545F4914F6CDD1Dull) >> 11) + 0.5) / 9007199254740992.0;
    }

    // Standard normal (Box-Muller; two uniforms a draw).
    double Gaussian() {
        const double u1 = Uniform();
        const double u2 = Uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
    }

private:
    std::uint64_t state_;
};

} // namespace kvsim
