#pragma once

// Small helpers shared by the engine's tests.

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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
#include "state/worker_sync_area.h"

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

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// How long run() took and how often the calling thread gave up its
// processor in it (voluntary context switches: each sleep, poll or other
// blocking wait).
struct Wakeups {
    double seconds;
    long switches;
};
inline Wakeups countWakeups(const std::function<void()>& run) {
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    const auto start = std::chrono::steady_clock::now();
    run();
    const double seconds = secondsSince(start);
    getrusage(RUSAGE_THREAD, &after);
    return {seconds, after.ru_nvcsw - before.ru_nvcsw};
}

[[noreturn]] inline void stall() {
    for (;;) pause();
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

// A stand-in worker's handshake: reports ready and waits for go; false on
// the abort byte. Polls every millisecond rather than spinning, so that many
// such workers leave the processors to the forks or threads still to start.
inline bool readyForGo(int worker) {
    WorkerSyncArea area = currentWorkerSyncArea();
    area.setReady(worker, true);
    waitUntil([&] { return area.go() || area.abort(); }, 60.0);
    return !area.abort();
}

// Records every worker that a WorkerGroup forks while the object lives, in
// this process or in a runner forked from it (RunnerProcess), in memory
// shared with both. Fixtures call endRemaining() in TearDown, so that a
// failing test leaves nothing running.
class ForkedWorkers {
public:
    ForkedWorkers() {
        void* shared = mmap(nullptr, sizeof(Pids), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) std::abort();
        pids_ = new (shared) Pids();
        workerGroupSeamsForTesting().forked = [pids = pids_](pid_t pid) {
            const int at = pids->count.load();  // one forking thread: no race
            if (at == kMaxPids) return;
            pids->pid[at] = pid;
            pids->count.store(at + 1);
        };
    }
    ForkedWorkers(const ForkedWorkers&) = delete;
    ForkedWorkers& operator=(const ForkedWorkers&) = delete;
    ~ForkedWorkers() {
        endRemaining();
        workerGroupSeamsForTesting().forked = nullptr;
        munmap(pids_, sizeof(Pids));
    }

    int count() const { return pids_->count.load(); }

    // True when no recorded worker is a running child of this process
    // (reaping those that have ended). A worker whose runner died is one
    // until it ends.
    bool allEnded() const {
        bool all = true;
        for (int i = 0; i < count(); ++i) all = waitpid(pids_->pid[i], nullptr, WNOHANG) != 0 && all;
        return all;
    }

    // Kills and reaps the recorded workers still running here; true when
    // there were none. A pid that is no longer a child (ECHILD) was reaped
    // and may belong to someone else now: it is never signalled.
    bool endRemaining() {
        bool none = true;
        for (int i = 0; i < count(); ++i) {
            const pid_t pid = pids_->pid[i];
            if (waitpid(pid, nullptr, WNOHANG) != 0) continue;
            none = false;
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        return none;
    }

private:
    static constexpr int kMaxPids = 512;
    struct Pids {
        std::atomic<int> count{0};
        pid_t pid[kMaxPids] = {};
    };
    Pids* pids_ = nullptr;
};

// A forked child process (the runner) that makes one run, so that a test can
// kill the caller of a run. While the object lives this process is the
// subreaper of the runner's workers: a worker the runner leaves behind is
// handed here, where ForkedWorkers sees it end, or kills it. The destructor
// kills and reaps the runner.
class RunnerProcess {
public:
    explicit RunnerProcess(const std::function<void()>& run) {
        prctl(PR_GET_CHILD_SUBREAPER, &previousSubreaper_);
        if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            ::signal(SIGTERM, SIG_DFL);
            ::signal(SIGINT, SIG_DFL);
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
        prctl(PR_SET_CHILD_SUBREAPER, previousSubreaper_);
    }

    bool started() const { return pid_ > 0; }

    // Sends signal to the runner and reaps it; false when it had not ended
    // within `seconds`.
    bool signal(int signal, double seconds) {
        kill(pid_, signal);
        const bool ended = waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, seconds);
        if (ended) pid_ = -1;
        return ended;
    }

private:
    pid_t pid_ = -1;
    int previousSubreaper_ = 0;
};

// Checks for the gtest programs (they include gtest before this header).
#ifdef EXPECT_EQ

// Base of the fixtures whose runs fork workers: after each test the run has
// reaped every worker and closed what it opened to watch them, and the
// worker-group seams are reset.
class WorkerGroupTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(workers_.endRemaining());
        EXPECT_TRUE(noChildProcessesLeft());
        EXPECT_EQ(openDescriptors(), descriptorsBefore_);  // no pidfd left open
        workerGroupSeamsForTesting() = {};
    }
    ForkedWorkers workers_;

private:
    // Open file descriptors of this process (those below 4096).
    static int openDescriptors() {
        int open = 0;
        for (int fd = 0; fd < 4096; ++fd) open += fcntl(fd, F_GETFD) != -1;
        return open;
    }
    const int descriptorsBefore_ = openDescriptors();
};

// One way a run of forked workers fails: the seams that make it fail (body
// is the test's own worker seam, which the caller's run sets) and what the
// run then shows.
template <class Body>
struct WorkerFailure {
    const char* name;
    std::int32_t seconds;
    std::function<bool(int)> allowFork;
    std::function<void(int)> started;  // in each worker before its body
    Body body;
    const char* errorText;
    bool timeoutLogged;
    double minSeconds, maxSeconds;
    bool pidfds = true;  // false: the group watches the workers without pidfds
};

// Every failure, made with the bounds cut tenfold (the ready and result
// waits are then 1 s for a 1-second test), gives 0.0 from run(failure)
// within its own bound, with its own error text and timeout line (logged for
// a worker that ended without posting as for one too late), and leaves no
// child behind.
template <class Body, class Run>
void expectEveryFailureGivesZero(const std::vector<WorkerFailure<Body>>& failures, Run run) {
    ScopedDebugLogging logging;
    workerGroupSeamsForTesting().boundDivisor = 10;
    for (const WorkerFailure<Body>& failure : failures) {
        SCOPED_TRACE(failure.name);
        std::filesystem::remove("debug.log");
        workerGroupSeamsForTesting().allowFork = failure.allowFork;
        workerGroupSeamsForTesting().started = failure.started;
        workerGroupSeamsForTesting().pidfds = failure.pidfds;
        testing::internal::CaptureStderr();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run(failure), 0.0);  // other workers' figures are discarded
        const double elapsed = secondsSince(start);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), failure.errorText);
        EXPECT_GE(elapsed, failure.minSeconds);
        EXPECT_LT(elapsed, failure.maxSeconds);
        const auto messages = debugMessages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(), "Test Timeout"), failure.timeoutLogged ? 1 : 0);
        EXPECT_TRUE(noChildProcessesLeft());
    }
    workerGroupSeamsForTesting().allowFork = nullptr;
    workerGroupSeamsForTesting().started = nullptr;
    workerGroupSeamsForTesting().pidfds = true;
    workerGroupSeamsForTesting().boundDivisor = 1;
}

// Makes run() in a runner process that starts `count` workers, kills the
// runner with `signal` once they are forked and inPhase() holds (before or
// after go, as afterGo says), and expects no worker left 2 s later.
inline void expectNoWorkerOutlivesItsRunner(ForkedWorkers& workers, int count, const std::function<void()>& run,
                                            const std::function<bool()>& inPhase, bool afterGo, int signal) {
    const int before = workers.count();
    RunnerProcess runner(run);
    ASSERT_TRUE(runner.started());
    ASSERT_TRUE(waitUntil([&] { return workers.count() == before + count && inPhase(); }, 10.0));
    EXPECT_EQ(currentWorkerSyncArea().go(), afterGo);
    ASSERT_TRUE(runner.signal(signal, 2.0));
    EXPECT_TRUE(waitUntil([&] { return workers.allEnded(); }, 2.0));
}

#endif

}  // namespace vxtest
