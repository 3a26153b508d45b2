#include "state/c_rand.h"

#include <stdlib.h>

#include <cstdint>

namespace {

// The C library's own state size for rand(): the degree-31 additive
// generator.
constexpr std::size_t kStateBytes = 128;

// Made before main (one thread then), so that no worker ever initialises it.
struct Generator {
    Generator() { initstate_r(1, state, kStateBytes, &data); }
    char state[kStateBytes] = {};
    random_data data = {};
};

Generator generator;

}  // namespace

int cRand() {
    std::int32_t draw = 0;
    random_r(&generator.data, &draw);
    return draw;
}

void cSrand(unsigned seed) { srandom_r(seed, &generator.data); }
