#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "state/worker_sync_area.h"

// The forked worker processes of one run and the parent's side of their
// handshake over the WorkerSyncArea: start, wait for the ready bytes, pause,
// wait for the results, end. The CPU runner and the database test both run
// their workers through it; the bytes they clear and the go byte they set
// stay theirs.
//
// No worker outlives its run:
// - the kernel kills a worker (SIGKILL) when the thread that forked it ends,
//   so a parent killed at any moment (waiting for go, measuring, preparing
//   data) leaves nothing spinning; a worker whose parent ended before it
//   could ask for this ends at once;
// - every wait notices a worker that ends without posting at once rather
//   than at its bound: the pauses sleep on one pidfd per worker and wake
//   when one ends (or, where the kernel gives no pidfd, every 10 ms); the
//   spinning waits look at the workers' exits every 10 ms;
// - a group that ends kills the workers still running and reaps them all.
//
// The forking thread must stay alive for as long as the group exists (it
// does: the group lives on the caller's stack).
class WorkerGroup {
public:
    enum class Outcome {
        ok,        // what was waited for happened (or the pause passed)
        aborted,   // the abort byte is set: a fork failed
        lost,      // a worker ended without posting
        timedOut,  // the bound passed first
    };

    // Whether worker i has posted its result (a worker that has may end).
    using Posted = std::function<bool(int worker)>;

    explicit WorkerGroup(WorkerSyncArea area) : area_(area) {}
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;
    ~WorkerGroup() { end(0); }

    // Forks workers 0 ... n-1; worker i runs body(i) in its own process and
    // then ends with _exit(0) (an exception ends it the same way). A failed
    // fork sets the abort byte, and the remaining forks are still made.
    // False when a fork failed.
    bool start(int n, const std::function<void(int worker)>& body);

    // Spins until ready byte 0 ... n-1 are all set. On every pass the abort
    // byte is tested first (aborted); a worker that ends (lost) or the bound
    // passing (timedOut, bound in nanoseconds) ends the wait too.
    Outcome waitReady(std::int64_t bound);

    // Sleeps for nanoseconds without polling the area and without waking
    // until the time has passed or a worker has ended; lost as soon as a
    // worker ends while posted(worker) is false.
    Outcome pause(std::int64_t nanoseconds, const Posted& posted);

    // Spins until posted(i) holds for every worker. On every pass the time
    // is tested first (timedOut once bound nanoseconds have passed); a
    // worker that ends while posted is false makes it lost.
    Outcome waitPosted(std::int64_t bound, const Posted& posted);

    // Gives the workers up to grace nanoseconds to end by themselves, then
    // kills (SIGKILL) the rest; every worker is reaped when this returns.
    void end(std::int64_t grace);

private:
    // Reaps worker i if it has ended; true when it has (or never started).
    bool ended(int worker);
    // True when a worker has ended while posted(worker) is false.
    bool anyLost(const Posted& posted);
    // Sleeps until the monotonic clock reaches `until` or a worker not yet
    // reaped ends, whichever comes first (it may also return early).
    void sleepUntilAnExit(std::int64_t until);
    // Kills (SIGKILL) worker i if it has not been reaped, then reaps it.
    void killAndReap(int worker);

    WorkerSyncArea area_;
    std::vector<pid_t> pids_;   // by worker index; -1: never forked or reaped
    std::vector<int> pidfds_;   // by worker index; -1: none (reaped, or refused)
};

// Test seams; the product never sets them. Reset with `= {}`.
struct WorkerGroupSeams {
    // Asked before each fork; false makes that fork fail as if the system
    // had refused it.
    std::function<bool(int worker)> allowFork;
    // Called in the parent after each successful fork with the worker's pid.
    std::function<void(pid_t pid)> forked;
    // Called in each worker before its body.
    std::function<void(int worker)> started;
    // Every wait bound is divided by this (bounds of many seconds shrink to
    // a fraction of a second, in the same proportion).
    std::int64_t boundDivisor = 1;
    // False: no pidfd is opened, as on a kernel that has none.
    bool pidfds = true;
};
WorkerGroupSeams& workerGroupSeamsForTesting();
