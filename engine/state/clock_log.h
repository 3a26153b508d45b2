#pragma once

#include <cstdint>
#include <fstream>
#include <string>

// Nanoseconds of the monotonic clock; the only time base of the tests. The
// zero point is arbitrary: use differences and start + seconds * 1e9 deadlines.
std::int64_t nowNanoseconds();

// Process-wide debug switch, 0 at start; written only by setDebugLogging.
// Forked workers inherit their parent's value.
extern std::uint8_t debugLogging;

// Appends "<monotonic seconds, six decimals>: <message>\n" to ./debug.log in
// the current working directory, opening and closing the file each time.
// Does not test debugLogging: callers test it before building the message.
// A file that cannot be opened loses the message silently.
void debugLog(const std::string& message);

// An output stream on /dev/null, opened when its owner is constructed (at
// start-up for the file-scope sinks of the test units) and closed at exit.
// Tests write values derived from their work into it so that the optimiser
// cannot discard the work; nothing ever reads it. A sink whose open failed is
// in the failed state and swallows its writes.
class NullSink : public std::ofstream {
public:
    NullSink() : std::ofstream("/dev/null", std::ios::out) {}
};
