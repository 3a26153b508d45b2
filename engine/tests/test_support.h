#pragma once

// Small helpers shared by the engine's tests.

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "state/clock_log.h"
#include "state/worker_group.h"

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

// Polls condition every millisecond for up to `seconds`; true once it holds.
inline bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        timespec step{0, 1000000};
        nanosleep(&step, nullptr);
    }
    return true;
}

// A counter in memory shared with the processes forked while it lives.
class SharedCounter {
public:
    SharedCounter()
        : count_(static_cast<std::atomic<int>*>(
              mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0))) {
        if (count_ == MAP_FAILED) std::abort();
        new (count_) std::atomic<int>(0);
    }
    SharedCounter(const SharedCounter&) = delete;
    SharedCounter& operator=(const SharedCounter&) = delete;
    ~SharedCounter() { munmap(count_, sizeof(std::atomic<int>)); }
    void add() { count_->fetch_add(1); }
    int value() const { return count_->load(); }

private:
    std::atomic<int>* count_;
};

// Records every worker that a WorkerGroup of this process forks while the
// object lives. Fixtures call endRemaining() in TearDown, so that a failing
// test (or a runner that fails to end its workers) leaves nothing running.
class ForkedWorkers {
public:
    ForkedWorkers() {
        workerGroupSeamsForTesting().forked = [this](pid_t pid) { pids_.push_back(pid); };
    }
    ForkedWorkers(const ForkedWorkers&) = delete;
    ForkedWorkers& operator=(const ForkedWorkers&) = delete;
    ~ForkedWorkers() {
        endRemaining();
        workerGroupSeamsForTesting().forked = nullptr;
    }

    // Kills and reaps the recorded workers not yet reaped; true when there
    // were none. A pid that is no longer a child (ECHILD) was reaped and may
    // belong to someone else: it is never signalled.
    bool endRemaining() {
        bool none = true;
        for (pid_t pid : pids_) {
            if (waitpid(pid, nullptr, WNOHANG) != 0) continue;
            none = false;
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        pids_.clear();
        return none;
    }

private:
    std::vector<pid_t> pids_;
};

// A forked child process (the runner) that runs one test run, whose worker
// processes this process can watch and outlive. The runner records each
// worker's pid (WorkerGroup's forked seam) in memory shared with this
// process, and this process is the workers' subreaper while the object
// lives: a worker whose runner dies is handed here, so it can be reaped here,
// and the destructor kills and reaps the runner and every worker still
// there, whether the test passed or not.
class RunnerProcess {
public:
    explicit RunnerProcess(const std::function<void()>& run) {
        prctl(PR_GET_CHILD_SUBREAPER, &previousSubreaper_);
        subreaper_ = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
        void* shared = mmap(nullptr, sizeof(Pids), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) return;
        pids_ = new (shared) Pids();
        pid_ = fork();
        if (pid_ == 0) {
            signal(SIGTERM, SIG_DFL);
            signal(SIGINT, SIG_DFL);
            Pids* pids = pids_;
            workerGroupSeamsForTesting().forked = [pids](pid_t pid) {
                const int at = pids->count.load();
                if (at < kMaxPids) pids->pid[at] = pid;
                pids->count.store(at + 1);
            };
            run();
            _exit(0);
        }
    }
    RunnerProcess(const RunnerProcess&) = delete;
    RunnerProcess& operator=(const RunnerProcess&) = delete;
    ~RunnerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        // The runner is gone: every worker still there is this process's
        // child now. A pid that is not (ECHILD) has already been reaped and
        // may belong to someone else: it is never signalled.
        for (int i = 0; i < workers(); ++i) {
            const pid_t pid = pids_->pid[i];
            if (waitpid(pid, nullptr, WNOHANG) != 0) continue;
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        if (pids_ != nullptr) munmap(pids_, sizeof(Pids));
        prctl(PR_SET_CHILD_SUBREAPER, previousSubreaper_);
    }

    // False when the runner could not be started or this process cannot
    // adopt its orphans.
    bool started() const { return pid_ > 0 && subreaper_; }
    // Workers the runner has forked so far.
    int workers() const { return pids_ == nullptr ? 0 : std::min(pids_->count.load(), kMaxPids); }

    // Sends signal to the runner and reaps it; false when it had not ended
    // within `seconds`.
    bool signalRunner(int signal, double seconds) {
        kill(pid_, signal);
        const bool ended = waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, seconds);
        if (ended) pid_ = -1;
        return ended;
    }

    // After the runner has ended: true once every worker it forked has
    // ended within `seconds` (reaping those handed to this process).
    bool workersEndWithin(double seconds) {
        return waitUntil([&] {
            bool all = true;
            for (int i = 0; i < workers(); ++i) {
                const pid_t answer = waitpid(pids_->pid[i], nullptr, WNOHANG);
                all = all && answer != 0;  // reaped now, or not a child (reaped before)
            }
            return all;
        }, seconds);
    }

private:
    static constexpr int kMaxPids = 256;
    struct Pids {
        std::atomic<int> count{0};
        pid_t pid[kMaxPids] = {};
    };
    Pids* pids_ = nullptr;
    pid_t pid_ = -1;
    int previousSubreaper_ = 0;
    bool subreaper_ = false;
};

}  // namespace vxtest
