#pragma once

#include <cstddef>

// Pieces of the compression test shared with its unit tests.

namespace compression {

inline constexpr std::size_t kTextBytes = 4194304;  // 4 MiB per pass
inline constexpr unsigned kDeflateLevel = 6;
inline constexpr unsigned kLog2WindowSize = 15;

// Writes the pass text: Minstd seeded with 777, one draw m per byte,
// r = m mod 27: a blank for r = 0, else the letter 96 + r ('a' .. 'z').
void fillText(unsigned char* text, std::size_t bytes);

}  // namespace compression
