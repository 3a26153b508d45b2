#pragma once

// Small helpers shared by the engine's tests.

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "state/clock_log.h"

namespace vxtest {

// A fresh directory that becomes the working directory for the scope (so
// "./debug.log" lands there), removed afterwards.
class ScopedWorkDir {
public:
    ScopedWorkDir() {
        char pattern[] = "/tmp/vx-test-XXXXXX";
        path_ = mkdtemp(pattern);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~ScopedWorkDir() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

// Turns the debug log on for the scope.
class ScopedDebugLogging {
public:
    explicit ScopedDebugLogging(bool on = true) : previous_(debugLogging) { debugLogging = on ? 1 : 0; }
    ~ScopedDebugLogging() { debugLogging = previous_; }

private:
    std::uint8_t previous_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
    if (!path.parent_path().empty()) std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

// The message part of a debug-log line ("<seconds>: <message>").
inline std::string messageOf(const std::string& line) {
    const auto separator = line.find(": ");
    return separator == std::string::npos ? std::string() : line.substr(separator + 2);
}

inline std::vector<std::string> debugMessages() {
    std::vector<std::string> messages;
    for (const auto& line : readLines("debug.log")) messages.push_back(messageOf(line));
    return messages;
}

// True when this process has no child left, not even an unreaped one.
inline bool noChildProcessesLeft() {
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

}  // namespace vxtest
