// CPU test 5, "Compression": 4 MiB of random lower-case text per pass fed
// to one gzip compressor whose stream is never finished. Returns input bytes
// compressed per second; the runner shows KB/s (bytes x 2^-10). Also the
// third phase of the single-thread test.

#include <cryptopp/filters.h>
#include <cryptopp/gzip.h>

#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>

#include "cpu/compression_internal.h"
#include "cpu/cpu_tests.h"
#include "state/clock_log.h"
#include "state/minstd.h"

namespace compression {

namespace {

constexpr std::uint32_t kDataSeed = 777;
constexpr std::uint32_t kSymbols = 27;  // a blank and 26 letters

}  // namespace

void fillText(unsigned char* text, std::size_t bytes) {
    Minstd minstd(kDataSeed);
    for (std::size_t k = 0; k < bytes; ++k) {
        const std::uint32_t r = minstd.next() % kSymbols;
        text[k] = static_cast<unsigned char>(r == 0 ? ' ' : 96 + r);
    }
}

CompressionCalls defaultCompressionCalls() {
    CompressionCalls calls;
    calls.clock = nowNanoseconds;
    calls.fill = fillText;
    calls.makeCompressor =
        [](std::string& output) -> std::unique_ptr<CryptoPP::BufferedTransformation> {
        return std::make_unique<CryptoPP::Gzip>(new CryptoPP::StringSink(output), kDeflateLevel,
                                                kLog2WindowSize, true);
    };
    calls.compress = [](CryptoPP::BufferedTransformation& compressor, const unsigned char* text,
                        std::size_t bytes) { compressor.Put2(text, bytes, 0, true); };
    return calls;
}

CompressionCalls compressionCalls = defaultCompressionCalls();

}  // namespace compression

double NewCompressData(std::int32_t seconds) {
    using namespace compression;

    // Without its 4 MiB text buffer the test scores 0.0, like the other CPU
    // tests, instead of ending the worker with an exception.
    std::unique_ptr<unsigned char[]> text(new (std::nothrow) unsigned char[kTextBytes]);
    if (!text) return 0.0;

    const CompressionCalls calls = compressionCalls;
    std::string output;
    double charsEncoded = 0.0;
    std::uint64_t totalSize = 0;
    std::int64_t start = 0;
    std::int64_t now = 0;
    try {
        // The compressor owns the sink. Message end is never signalled, so
        // the compressor carries its window and pending output from pass to
        // pass and the gzip trailer is never written; emptying the output
        // after each pass bounds memory by one pass's output.
        const std::unique_ptr<CryptoPP::BufferedTransformation> gzip = calls.makeCompressor(output);
        start = calls.clock();
        const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000LL;
        // The clock is read after every second pass only, so a call costs at
        // least two passes.
        std::uint64_t passes = 0;
        for (;;) {
            calls.fill(text.get(), kTextBytes);
            calls.compress(*gzip, text.get(), kTextBytes);
            totalSize += output.size();
            output.clear();
            charsEncoded += static_cast<double>(kTextBytes);
            ++passes;
            if (passes % 2 != 0) continue;
            now = calls.clock();
            if (now > deadline) break;
        }
    } catch (const CryptoPP::Exception& e) {
        std::cerr << "Debug: [CompressData] Exception: " << e.what() << std::endl;
        return 0.0;
    }
    text.reset();

    const double elapsed = static_cast<double>(now - start) / 1000000000.0;
    const double result = charsEncoded / elapsed;

    if (debugLogging) {
        std::ostringstream message;
        message << "NewCompressData: chars encoded = " << charsEncoded
                << ", time elapsed = " << elapsed << ", total size = " << totalSize;
        debugLog(message.str());
    }
    return result;
}
