#pragma once

#include <cryptopp/cryptlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Pieces of the compression test shared with its unit tests.

namespace compression {

inline constexpr std::size_t kTextBytes = 4194304;  // 4 MiB per pass
inline constexpr unsigned kDeflateLevel = 6;
inline constexpr unsigned kLog2WindowSize = 15;

// Writes the pass text: Minstd seeded with 777, one draw m per byte,
// r = m mod 27: a blank for r = 0, else the letter 96 + r ('a' .. 'z').
void fillText(unsigned char* text, std::size_t bytes);

// Everything the test calls besides its own bookkeeping, as pointers so that
// a test can count the work, feed the clock or make a pass fail. The product
// never changes them; each holds the real call. A call of fill or compress
// handles 4 MiB, so going through a pointer costs nothing next to it.
struct CompressionCalls {
    std::int64_t (*clock)();                              // nowNanoseconds
    void (*fill)(unsigned char* text, std::size_t bytes);  // fillText
    // The gzip compressor (deflate level 6, 2^15 window, uncompressible data
    // detected) appending to output through a string sink it owns.
    std::unique_ptr<CryptoPP::BufferedTransformation> (*makeCompressor)(std::string& output);
    // Put2(text, bytes, message end 0, blocking): the stream is never finished.
    void (*compress)(CryptoPP::BufferedTransformation& compressor, const unsigned char* text,
                     std::size_t bytes);
};
extern CompressionCalls compressionCalls;
CompressionCalls defaultCompressionCalls();

}  // namespace compression
