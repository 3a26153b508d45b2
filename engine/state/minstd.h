#pragma once

#include <cstdint>

// Park-Miller minimal standard generator: x' = 48271 x mod (2^31 - 1),
// computed by Schrage's method (q = 44488, r = 3399) so that nothing
// overflows 32 bits. The tests fix their seeds, so their data is the same on
// every run and every machine. Seed 777 draws 37,506,567 then 150,781,236.
class Minstd {
public:
    static constexpr std::int32_t kModulus = 2147483647;  // 2^31 - 1
    static constexpr std::int32_t kMultiplier = 48271;
    static constexpr std::int32_t kQ = 44488;  // kModulus / kMultiplier
    static constexpr std::int32_t kR = 3399;   // kModulus % kMultiplier

    explicit Minstd(std::uint32_t seed = 1) : state_(static_cast<std::int32_t>(seed)) {}

    void seed(std::uint32_t seed) { state_ = static_cast<std::int32_t>(seed); }

    // The next draw, in 1 .. 2^31 - 2.
    std::uint32_t next() {
        const std::int32_t hi = state_ / kQ;
        const std::int32_t lo = state_ % kQ;
        std::int32_t t = kMultiplier * lo - kR * hi;
        if (t < 0) t += kModulus;
        state_ = t;
        return static_cast<std::uint32_t>(t);
    }

private:
    std::int32_t state_;
};
