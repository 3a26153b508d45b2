#pragma once

// Helpers of the CPU tests' suites.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

// For its scope: the debug log on, written into a fresh working directory;
// messages() gives the log's lines without their time stamps.
class ScopedDebugLog {
public:
    std::vector<std::string> messages() const { return vxtest::debugMessages(); }

private:
    vxtest::ScopedWorkDir dir_;
    vxtest::ScopedDebugLogging logging_;
};

// The number that follows `label` in a debug message, parsed as a double
// (the log writes six significant digits). Fails the test when missing.
inline double loggedNumber(const std::string& message, const std::string& label) {
    const auto at = message.find(label);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no \"" << label << "\" in: " << message;
        return 0.0;
    }
    return std::strtod(message.c_str() + at + label.size(), nullptr);
}

// Runs `test` in a forked child that can get no block of `bufferBytes`:
// its data-segment limit forbids new mappings, and whatever free heap
// space the child inherited is taken first by blocks of that size. The
// child reports whether the test returned exactly 0.0: 0 = it did, 1 = it
// returned something else, 4 = the kernel did not enforce the limit,
// 5 = an exception escaped the test, anything else = the child died.
inline int exitCodeWithoutMemory(double (*test)(std::int32_t), std::size_t bufferBytes) {
    const pid_t pid = fork();
    if (pid == 0) {
        rlimit limit{0, 0};
        if (setrlimit(RLIMIT_DATA, &limit) != 0) _exit(3);
        int taken = 0;
        while (std::malloc(bufferBytes) != nullptr) {
            if (++taken > 64) _exit(4);
        }
        try {
            const double result = test(0);
            _exit(result == 0.0 ? 0 : 1);
        } catch (...) {
            _exit(5);  // the test let an exception escape
        }
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    if (!WIFEXITED(status)) return -2;
    return WEXITSTATUS(status);
}

// A clock for the CPU tests' clock seams. Every reading is recorded. With a
// step of 0 it follows the monotonic clock; otherwise the first reading is
// the monotonic clock and each later one the previous plus the step, so a
// timed loop makes a known number of passes whatever the machine's speed.
struct SteppedClock {
    static inline std::vector<std::int64_t> readings;
    static inline std::int64_t step = 0;

    static void reset(std::int64_t stepNanoseconds) {
        readings.clear();
        step = stepNanoseconds;
    }
    static std::int64_t read() {
        const std::int64_t now =
            step == 0 || readings.empty() ? nowNanoseconds() : readings.back() + step;
        readings.push_back(now);
        return now;
    }
};
