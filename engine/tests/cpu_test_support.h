#pragma once

// Helpers of the CPU test suites.
//
// ScopedDebugLog runs a block of test code with the debug log switched on inside a fresh
// temporary working directory, then hands back the log's lines without
// their time stamps. Restores the working directory and the switch.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "state/clock_log.h"

class ScopedDebugLog {
public:
    ScopedDebugLog() {
        char pattern[] = "/tmp/vx-cpu-log-XXXXXX";
        const char* dir = mkdtemp(pattern);
        if (dir == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
            return;
        }
        dir_ = dir;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        savedFlag_ = debugLogging;
        debugLogging = 1;
    }

    ~ScopedDebugLog() {
        debugLogging = savedFlag_;
        if (dir_.empty()) return;
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    ScopedDebugLog(const ScopedDebugLog&) = delete;
    ScopedDebugLog& operator=(const ScopedDebugLog&) = delete;

    // Each line of ./debug.log after "<seconds>: ".
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        std::ifstream in(dir_ / "debug.log");
        std::string line;
        while (std::getline(in, line)) {
            const auto colon = line.find(": ");
            out.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
        }
        return out;
    }

private:
    std::filesystem::path dir_;
    std::filesystem::path previous_;
    std::uint8_t savedFlag_ = 0;
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
