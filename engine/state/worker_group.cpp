#include "state/worker_group.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "state/clock_log.h"

namespace {

// How often a spinning wait looks for workers that have ended, and how often
// a pause wakes when a worker has no pidfd: often enough that the caller
// learns of a crash at once, rarely enough that a spinning wait still sees a
// flag within nanoseconds (nanoseconds).
constexpr std::int64_t kWatchInterval = 10000000;  // 10 ms

std::int64_t scaledBound(std::int64_t bound) {
    return bound / std::max<std::int64_t>(workerGroupSeamsForTesting().boundDivisor, 1);
}

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's runtime in this toolchain takes no lock around
// fork: a worker forked while another thread allocates can inherit the
// runtime allocator's lock held and wait on it for ever. Its builds refuse to
// fork workers from a multi-threaded process, at once and with this message,
// rather than hang now and then.
void refuseForkingFromThreads() {
    int threads = 0;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::sscanf(line, "Threads: %d", &threads) == 1) break;
        }
        std::fclose(status);
    }
    if (threads == 1) return;
    std::fputs("Error: workers forked from a process of several threads under the address sanitizer\n", stderr);
    std::abort();
}
#endif

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
    pidfds_.assign(pids_.size(), -1);
#if defined(__SANITIZE_ADDRESS__)
    if (n > 0) refuseForkingFromThreads();
#endif
    for (int i = 0; i < n; ++i) {
        const pid_t pid = (seams.allowFork && !seams.allowFork(i)) ? pid_t(-1) : fork();
        if (pid < 0) {
            area_.setAbort(true);  // workers already started end at once
            all = false;
            continue;
        }
        if (pid == 0) {
            // A worker is a copy of a process that may run other threads (the
            // window's main thread, an upload), and a lock one of them held
            // at the fork stays held here for good. What a worker calls until
            // _exit, and why none of it can wait on such a lock:
            // - system calls (prctl, getppid, clock_gettime; open, read,
            //   write, close of /dev/urandom, /dev/null and ./debug.log;
            //   mmap under the allocator): no user-space lock;
            // - the C library's allocator (malloc, free, posix_memalign, and
            //   operator new over them): the library takes every arena lock
            //   around fork and resets them in the child;
            // - its stdio (fopen, fwrite, fputs to standard error, and the
            //   C++ streams over it): the library resets the stream-list lock
            //   and every stream's own lock in the child;
            // - the unwinder of a caught exception (failure paths only) takes
            //   the loader's lock, which the library also resets in the
            //   child;
            // - not rand and srand, whose lock is not reset: the tests draw
            //   from the engine's copy of that generator (cRand), lock-free;
            // - the C++ runtime: a function-local static initialised for the
            //   first time takes the runtime's guard and registers its
            //   destructor under the C library's exit-handler lock, and
            //   neither is reset, so a worker initialises none: the engine
            //   keeps such objects at namespace scope, and the runner has the
            //   parent create those of the libraries before it forks (the CPU
            //   table's prepare step). The C locale's one-time set-up
            //   (pthread_once) is restarted by the library in a child forked
            //   during it, and the global locale stays the classic one, so
            //   streams take no locale lock;
            // - SQLite (database workers) locks its own mutexes: no other
            //   thread of the process ever enters SQLite, and the forking
            //   thread has initialised it before the forks;
            // - Crypto++ (encryption, compression) and Bullet (physics):
            //   computation over the allocator once their one-time objects
            //   exist (prepare step, above);
            // - Qt: nothing. The fork handlers that loaded libraries register
            //   for the child (p11-kit, GnuTLS) only note that a fork
            //   happened.
            // A test records every call to rand, srand, the static guard and
            // the exit-handler registration in real workers of every test.
            //
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
        // A pidfd becomes readable when the worker ends (a zombie not yet
        // reaped included); -1 where the kernel has none.
        if (seams.pidfds) pidfds_[static_cast<std::size_t>(i)] = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (seams.forked) seams.forked(pid);
    }
    return all;
}

bool WorkerGroup::ended(int worker) {
    pid_t& pid = pids_[static_cast<std::size_t>(worker)];
    if (pid < 0) return true;
    const pid_t answer = waitpid(pid, nullptr, WNOHANG);
    if (answer == pid || (answer < 0 && errno == ECHILD)) {
        pid = -1;
        int& pidfd = pidfds_[static_cast<std::size_t>(worker)];
        if (pidfd >= 0) close(pidfd);
        pidfd = -1;
    }
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

void WorkerGroup::sleepUntilAnExit(std::int64_t until) {
    std::vector<pollfd> watched;
    bool unwatched = false;
    for (std::size_t i = 0; i < pids_.size(); ++i) {
        if (pids_[i] < 0) continue;
        if (pidfds_[i] >= 0) {
            watched.push_back(pollfd{pidfds_[i], POLLIN, 0});
        } else {
            unwatched = true;
        }
    }
    std::int64_t remaining = until - nowNanoseconds();
    if (remaining <= 0) return;
    if (unwatched) remaining = std::min(remaining, kWatchInterval);
    const timespec timeout{static_cast<time_t>(remaining / 1000000000),
                           static_cast<long>(remaining % 1000000000)};
    ppoll(watched.data(), watched.size(), &timeout, nullptr);  // a signal ends it early; callers loop
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
        if (nowNanoseconds() >= until) return Outcome::ok;
        sleepUntilAnExit(until);
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

void WorkerGroup::killAndReap(int worker) {
    pid_t& pid = pids_[static_cast<std::size_t>(worker)];
    if (pid >= 0) {
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }
    int& pidfd = pidfds_[static_cast<std::size_t>(worker)];
    if (pidfd >= 0) close(pidfd);
    pidfd = -1;
}

void WorkerGroup::end(std::int64_t grace) {
    const int n = static_cast<int>(pids_.size());
    const std::int64_t deadline = nowNanoseconds() + grace;
    for (;;) {
        bool all = true;
        for (int i = 0; i < n; ++i) all = ended(i) && all;
        if (all || nowNanoseconds() >= deadline) break;
        sleepUntilAnExit(deadline);
    }
    for (int i = 0; i < n; ++i) killAndReap(i);
}
