#include "state/worker_group.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "state/clock_log.h"

namespace {

// How often a wait looks for workers that have ended: often enough that the
// caller learns of a crash at once, rarely enough that a spinning wait still
// sees a flag within nanoseconds (nanoseconds).
constexpr std::int64_t kWatchInterval = 10000000;  // 10 ms
constexpr std::int64_t kReapStep = 1000000;        // 1 ms

void sleepNanoseconds(std::int64_t nanoseconds) {
    if (nanoseconds <= 0) return;
    timespec pause{static_cast<time_t>(nanoseconds / 1000000000),
                   static_cast<long>(nanoseconds % 1000000000)};
    nanosleep(&pause, nullptr);  // an interrupted sleep ends early; callers loop
}

std::int64_t scaledBound(std::int64_t bound) {
    return bound / std::max<std::int64_t>(workerGroupSeamsForTesting().boundDivisor, 1);
}

}  // namespace

WorkerGroupSeams& workerGroupSeamsForTesting() {
    static WorkerGroupSeams seams;
    return seams;
}

bool WorkerGroup::start(int n, const std::function<void(int)>& body) {
    const WorkerGroupSeams& seams = workerGroupSeamsForTesting();
    const pid_t parent = getpid();
    bool all = true;
    pids_.assign(static_cast<std::size_t>(std::max(n, 0)), -1);
    for (int i = 0; i < n; ++i) {
        const pid_t pid = (seams.allowFork && !seams.allowFork(i)) ? pid_t(-1) : fork();
        if (pid < 0) {
            area_.setAbort(true);  // workers already started end at once
            all = false;
            continue;
        }
        if (pid == 0) {
            // Killed with the forking thread from here on. If the parent has
            // already gone (and this process was handed to another), nobody
            // will set go or reap it: end now.
            if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(0);
            if (seams.started) seams.started(i);
            try {
                body(i);
            } catch (...) {
                // Never unwind into the parent's code copied into this process.
            }
            // _exit, not exit: the parent may be a multi-threaded window
            // process whose exit handlers and static destructors must not run
            // in a worker.
            _exit(0);
        }
        pids_[static_cast<std::size_t>(i)] = pid;
        if (seams.forked) seams.forked(pid);
    }
    return all;
}

bool WorkerGroup::ended(int worker) {
    pid_t& pid = pids_[static_cast<std::size_t>(worker)];
    if (pid < 0) return true;
    const pid_t answer = waitpid(pid, nullptr, WNOHANG);
    if (answer == pid || (answer < 0 && errno == ECHILD)) pid = -1;
    return pid < 0;
}

bool WorkerGroup::anyLost(const Posted& posted) {
    for (int i = 0; i < static_cast<int>(pids_.size()); ++i) {
        // ended() first: whatever a worker posted before it ended is visible
        // once it has been reaped.
        if (ended(i) && !posted(i)) return true;
    }
    return false;
}

WorkerGroup::Outcome WorkerGroup::waitReady(std::int64_t bound) {
    const int n = static_cast<int>(pids_.size());
    const std::int64_t deadline = nowNanoseconds() + scaledBound(bound);
    std::int64_t nextWatch = 0;
    const Posted neverPosted = [](int) { return false; };
    for (;;) {
        if (area_.abort()) return Outcome::aborted;
        bool all = true;
        for (int i = 0; i < n && all; ++i) all = area_.ready(i);
        if (all) return Outcome::ok;
        const std::int64_t now = nowNanoseconds();
        if (now >= nextWatch) {
            nextWatch = now + kWatchInterval;
            // Before go no worker ends by itself.
            if (anyLost(neverPosted)) return Outcome::lost;
        }
        if (now > deadline) return Outcome::timedOut;
    }
}

WorkerGroup::Outcome WorkerGroup::pause(std::int64_t nanoseconds, const Posted& posted) {
    const std::int64_t until = nowNanoseconds() + nanoseconds;
    for (;;) {
        if (anyLost(posted)) return Outcome::lost;
        const std::int64_t remaining = until - nowNanoseconds();
        if (remaining <= 0) return Outcome::ok;
        sleepNanoseconds(std::min(remaining, kWatchInterval));
    }
}

WorkerGroup::Outcome WorkerGroup::waitPosted(std::int64_t bound, const Posted& posted) {
    const int n = static_cast<int>(pids_.size());
    const std::int64_t deadline = nowNanoseconds() + scaledBound(bound);
    std::int64_t nextWatch = 0;
    for (;;) {
        const std::int64_t now = nowNanoseconds();
        if (now > deadline) return Outcome::timedOut;
        bool all = true;
        for (int i = 0; i < n && all; ++i) all = posted(i);
        if (all) return Outcome::ok;
        if (now >= nextWatch) {
            nextWatch = now + kWatchInterval;
            if (anyLost(posted)) return Outcome::lost;
        }
    }
}

void WorkerGroup::end(std::int64_t grace) {
    const int n = static_cast<int>(pids_.size());
    const std::int64_t deadline = nowNanoseconds() + grace;
    for (;;) {
        bool all = true;
        for (int i = 0; i < n; ++i) all = ended(i) && all;
        if (all || nowNanoseconds() >= deadline) break;
        sleepNanoseconds(kReapStep);
    }
    for (pid_t& pid : pids_) {
        if (pid < 0) continue;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }
}
