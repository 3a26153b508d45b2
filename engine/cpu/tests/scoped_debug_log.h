#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "velocitrix/engine.h"

// Turns the debug log on for one scope with the working directory moved to a
// fresh temporary directory, so that "./debug.log" lands there; restores both
// and removes the directory at the end.
class ScopedDebugLog {
public:
    ScopedDebugLog() : previous_(std::filesystem::current_path()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "vx-log-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            directory_ = pattern;
            std::filesystem::current_path(directory_);
        }
        setDebugLogging(true);
    }
    ~ScopedDebugLog() {
        setDebugLogging(false);
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
    }
    ScopedDebugLog(const ScopedDebugLog&) = delete;
    ScopedDebugLog& operator=(const ScopedDebugLog&) = delete;

    bool ready() const { return !directory_.empty(); }

    // The log's lines so far, without their line feeds.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::ifstream in(directory_ / "debug.log");
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path directory_;
};

// The message of a debug-log line, or "<malformed>" when the line does not
// start with the monotonic time in seconds with six decimals and ": ".
inline std::string messageOf(const std::string& line) {
    static const std::regex shape(R"(^[0-9]+\.[0-9]{6}: (.*)$)");
    std::smatch match;
    return std::regex_match(line, match, shape) ? match[1].str() : "<malformed>";
}
