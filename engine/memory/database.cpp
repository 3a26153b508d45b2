// Database operations: how fast the machine runs a fixed mix of SQL work on
// private in-memory SQLite databases, one per forked worker process. The
// figure is the sum of the workers' rates in thousand operations per second
// (inserted plus selected rows).

#include <signal.h>
#include <sqlite3.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "memory/memory_internal.h"
#include "state/clock_log.h"
#include "state/worker_sync_area.h"

namespace {

NullSink databaseSink;

constexpr std::size_t kNameLetters = kNameRecordBytes - 1;
constexpr int kNameAlphabet = 15;  // 'A' .. 'O'
constexpr std::size_t kNumbersBytes = kNameRecords * sizeof(std::int64_t);
constexpr std::size_t kStatementBytes = 512;

constexpr char kCreateSql[] =
    "CREATE TABLE `vx_mem_test_db` (`firstname` VARCHAR(50), `lastname` VARCHAR(50), "
    "`number` INTEGER, `data` BLOB(1000)); ";
constexpr char kInsertSql[] = "INSERT INTO vx_mem_test_db VALUES (?1, ?2, ?3, ?4)";
constexpr char kBeginSql[] = "BEGIN TRANSACTION";
constexpr char kEndSql[] = "END TRANSACTION";
constexpr char kSelect1Sql[] =
    "SELECT * FROM vx_mem_test_db WHERE firstname LIKE 'A%' OR firstname LIKE 'B%' OR "
    "firstname LIKE 'C%' OR firstname LIKE 'D%'";
constexpr char kSelect2Sql[] =
    "SELECT * FROM vx_mem_test_db WHERE firstname LIKE 'E%' OR firstname LIKE 'F%' OR "
    "firstname LIKE 'G%' OR firstname LIKE 'H%'";
constexpr char kSelect3Sql[] =
    "SELECT * FROM vx_mem_test_db WHERE firstname LIKE 'I%' OR firstname LIKE 'J%' OR "
    "firstname LIKE 'K%' OR firstname LIKE 'L%'";
constexpr char kDropSql[] = "DROP TABLE `vx_mem_test_db`;";

std::function<void(std::int32_t, std::int32_t)>& workerForTesting() {
    static std::function<void(std::int32_t, std::int32_t)> worker;
    return worker;
}

// Runs one statement text from the statement buffer, counting rows into
// *rows when a counter is given.
int execute(sqlite3* db, char* statement, const char* text, std::uint64_t* rows) {
    std::snprintf(statement, kStatementBytes, "%s", text);
    return sqlite3_exec(db, statement, rows != nullptr ? countRowCallback : nullptr, rows,
                        nullptr);
}

// Inserts kRowsPerPass rows through one prepared statement, rebound, stepped,
// cleared and reset for every row. False when any row fails.
bool insertRows(sqlite3* db, char* statement, const DatabaseData& data) {
    std::snprintf(statement, kStatementBytes, "%s", kInsertSql);
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, statement, static_cast<int>(kStatementBytes), &insert,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(insert);
        return false;
    }
    bool ok = true;
    for (std::uint64_t r = 0; r < kRowsPerPass; ++r) {
        const char* name = data.names + r * kNameRecordBytes;
        sqlite3_bind_text(insert, 1, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 3, data.numbers[r]);
        sqlite3_bind_blob(insert, 4, data.blob, static_cast<int>(kBlobBytes), SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE) {
            ok = false;
            break;
        }
        sqlite3_clear_bindings(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    return ok;
}

// Worker processes of one run, by index; -1 for a slot never forked or
// already reaped.
class WorkerProcesses {
public:
    explicit WorkerProcesses(int n) : pids_(static_cast<std::size_t>(n), -1) {}
    WorkerProcesses(const WorkerProcesses&) = delete;
    WorkerProcesses& operator=(const WorkerProcesses&) = delete;
    ~WorkerProcesses() { end(0); }

    void add(int worker, pid_t pid) { pids_[static_cast<std::size_t>(worker)] = pid; }

    // Reaps workers that have ended; true when worker i has ended (or was
    // never forked).
    bool ended(int worker) {
        pid_t& pid = pids_[static_cast<std::size_t>(worker)];
        if (pid < 0) return true;
        int status = 0;
        const pid_t answer = waitpid(pid, &status, WNOHANG);
        if (answer == pid || (answer < 0 && errno == ECHILD)) pid = -1;
        return pid < 0;
    }

    // Gives the workers up to grace nanoseconds to end by themselves, then
    // kills the rest; every worker is reaped when this returns.
    void end(std::int64_t grace) {
        const std::int64_t deadline = nowNanoseconds() + grace;
        for (;;) {
            bool all = true;
            for (std::size_t i = 0; i < pids_.size(); ++i) all = ended(static_cast<int>(i)) && all;
            if (all || nowNanoseconds() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (pid_t& pid : pids_) {
            if (pid < 0) continue;
            kill(pid, SIGKILL);
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            pid = -1;
        }
    }

private:
    std::vector<pid_t> pids_;
};

// Spins until done() holds. Every 10 ms it also reaps ended workers; a
// worker that has ended while lost(i) holds makes the wait fail at once,
// and so does passing the bound.
template <typename Done, typename Lost>
bool waitForWorkers(WorkerProcesses& workers, int n, std::int64_t bound, Done done, Lost lost) {
    constexpr std::int64_t kReapInterval = 10000000;  // 10 ms
    const std::int64_t deadline = nowNanoseconds() + bound;
    std::int64_t nextReap = 0;
    for (;;) {
        if (done()) return true;
        const std::int64_t now = nowNanoseconds();
        if (now >= nextReap) {
            nextReap = now + kReapInterval;
            for (int i = 0; i < n; ++i) {
                // ended() first: what a worker posted before it ended is
                // visible once it is reaped.
                if (workers.ended(i) && lost(i)) return false;
            }
        }
        if (now > deadline) {
            if (debugLogging) debugLog("Test Timeout");
            return false;
        }
    }
}

std::function<bool(std::int32_t)>& forkHook() {
    static std::function<bool(std::int32_t)> hook;
    return hook;
}

pid_t forkWorker(std::int32_t worker) {
    if (forkHook() && !forkHook()(worker)) return -1;
    return fork();
}

}  // namespace

DatabaseData::~DatabaseData() {
    std::free(names);
    std::free(numbers);
}

bool generateDatabaseData(DatabaseData& data) {
    data.names = static_cast<char*>(allocateTestBuffer(kNameRecords * kNameRecordBytes));
    data.numbers = static_cast<std::int64_t*>(allocateTestBuffer(kNumbersBytes));
    if (data.names == nullptr || data.numbers == nullptr) return false;

    // Fixed seeds: every worker, run and machine with the same C library
    // inserts the same rows.
    std::srand(777);
    for (std::uint64_t r = 0; r < kNameRecords; ++r) {
        char* record = data.names + r * kNameRecordBytes;
        for (std::size_t c = 0; c < kNameLetters; ++c) {
            record[c] = static_cast<char>('A' + std::rand() % kNameAlphabet);
        }
        record[kNameLetters] = '\0';
    }
    std::memcpy(data.blob, data.names, kBlobBytes);

    std::srand(353);
    auto* bytes = reinterpret_cast<std::uint8_t*>(data.numbers);
    for (std::size_t i = 0; i < kNumbersBytes; ++i) {
        bytes[i] = static_cast<std::uint8_t>(std::rand());
    }
    return true;
}

int countRowCallback(void* counter, int /*columns*/, char** /*values*/, char** /*names*/) {
    ++*static_cast<std::uint64_t*>(counter);
    return 0;
}

DatabaseTally runDatabasePasses(const DatabaseData& data, std::int32_t seconds) {
    DatabaseTally tally;
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) {
        sqlite3_close(db);
        return tally;
    }
    char statement[kStatementBytes];

    const std::int64_t start = nowNanoseconds();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000;
    std::int64_t t = start;
    std::uint64_t rows = 0;
    bool failed = false;
    do {
        rows = 0;
        if (execute(db, statement, kCreateSql, nullptr) != SQLITE_OK ||
            execute(db, statement, kBeginSql, nullptr) != SQLITE_OK ||
            !insertRows(db, statement, data)) {
            failed = true;
            break;
        }
        tally.inserted += kRowsPerPass;
        if (execute(db, statement, kEndSql, nullptr) != SQLITE_OK) {
            failed = true;
            break;
        }

        // The selects run in one transaction; its begin and end may fail
        // without spoiling the pass.
        execute(db, statement, kBeginSql, nullptr);
        if (execute(db, statement, kSelect1Sql, &rows) == SQLITE_OK) tally.selected += kSelect1Rows;
        t = nowNanoseconds();
        // Past the deadline after the first select: the measurement ends
        // here, with the transaction open and the table in place (closing
        // the connection discards both).
        if (t > deadline) break;
        if (execute(db, statement, kSelect2Sql, &rows) == SQLITE_OK) tally.selected += kSelect2Rows;
        if (execute(db, statement, kSelect3Sql, &rows) == SQLITE_OK) tally.selected += kSelect3Rows;
        execute(db, statement, kEndSql, nullptr);

        if (execute(db, statement, kDropSql, nullptr) != SQLITE_OK) {
            failed = true;
            break;
        }
        t = nowNanoseconds();
    } while (t < deadline);
    sqlite3_close(db);

    tally.rowsSeen = rows;
    tally.start = start;
    tally.end = t;
    if (failed) return tally;
    tally.completed = true;
    tally.rate = (static_cast<double>(tally.inserted + tally.selected) /
                  (static_cast<double>(t - start) / 1e9)) /
                 1000.0;
    return tally;
}

void databaseWorker(std::int32_t seconds, std::int32_t worker) {
    WorkerSyncArea area = currentWorkerSyncArea();
    DatabaseData data;
    if (!generateDatabaseData(data)) {
        area.setResult(worker, 0.0);
        return;
    }
    area.setReady(worker, true);
    while (!area.go() && !area.abort()) {
    }
    if (area.abort()) return;

    const DatabaseTally tally = runDatabasePasses(data, seconds);
    if (tally.completed) area.setResult(worker, tally.rate);
}

void setDatabaseWorkerForTesting(std::function<void(std::int32_t seconds, std::int32_t worker)> worker) {
    workerForTesting() = std::move(worker);
}

void setDatabaseForkHookForTesting(std::function<bool(std::int32_t worker)> allowFork) {
    forkHook() = std::move(allowFork);
}

double runDatabaseTest(std::int32_t seconds, std::int32_t n) {
    n = std::clamp(n, 0, kDatabaseMaxWorkers);
    WorkerSyncArea area = currentWorkerSyncArea();
    if (!area.valid()) return 0.0;
    const std::function<void(std::int32_t, std::int32_t)> worker =
        workerForTesting() ? workerForTesting() : databaseWorker;

    // Initialised before the forks; each worker then opens its own
    // connection, so no library state is shared at run time.
    sqlite3_initialize();
    area.setGo(false);
    area.setAbort(false);
    for (int i = 0; i < n; ++i) {
        area.setReady(i, false);
        area.setResult(i, 0.0);
    }

    double total = 0.0;
    {
        WorkerProcesses workers(n);
        bool forked = true;
        for (int i = 0; i < n; ++i) {
            const pid_t pid = forkWorker(i);
            if (pid < 0) {
                area.setAbort(true);
                forked = false;
                continue;
            }
            if (pid == 0) {
                // Never unwind into the parent's code copied into this
                // process, and end with _exit: the parent's exit handlers
                // and static destructors must not run here.
                try {
                    worker(seconds, i);
                } catch (...) {
                }
                _exit(0);
            }
            workers.add(i, pid);
        }

        const std::int64_t bound = workerWaitBoundNanoseconds(seconds);
        auto allReady = [&] {
            for (int i = 0; i < n; ++i) {
                if (!area.ready(i)) return false;
            }
            return true;
        };
        auto allPosted = [&] {
            for (int i = 0; i < n; ++i) {
                if (!(area.result(i) > 0.0)) return false;
            }
            return true;
        };
        // Before go, any worker that has ended is lost; after it, one that
        // ended without posting.
        const bool ready = forked && waitForWorkers(workers, n, bound, allReady,
                                                    [](int) { return true; });
        if (ready) {
            area.setGo(true);
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            const bool posted = waitForWorkers(workers, n, bound, allPosted,
                                               [&](int i) { return !(area.result(i) > 0.0); });
            if (posted) {
                for (int i = 0; i < n; ++i) total += area.result(i);
                // Posted workers only have to return and exit.
                workers.end(bound);
            } else {
                workers.end(0);
            }
        } else {
            // No worker has started its test; none is left running.
            area.setAbort(true);
            workers.end(0);
        }
    }

    sqlite3_shutdown();
    return total;
}
