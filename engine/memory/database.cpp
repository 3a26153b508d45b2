// Database operations: how fast the machine runs a fixed mix of SQL work on
// private in-memory SQLite databases, one per forked worker process. The
// figure is the sum of the workers' rates in thousand operations per second
// (inserted plus selected rows).

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "memory/memory_internal.h"
#include "state/c_rand.h"
#include "state/clock_log.h"
#include "state/worker_group.h"
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

// Test seams, at namespace scope (made before main): the workers read them,
// and a worker must not be the first to initialise an object (see
// WorkerGroup::start).
std::function<void(sqlite3*)> connectionHook;
std::function<void(std::int32_t, std::int32_t)> workerForTesting;

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
    cSrand(777);
    for (std::uint64_t r = 0; r < kNameRecords; ++r) {
        char* record = data.names + r * kNameRecordBytes;
        for (std::size_t c = 0; c < kNameLetters; ++c) {
            record[c] = static_cast<char>('A' + cRand() % kNameAlphabet);
        }
        record[kNameLetters] = '\0';
    }
    std::memcpy(data.blob, data.names, kBlobBytes);

    cSrand(353);
    auto* bytes = reinterpret_cast<std::uint8_t*>(data.numbers);
    for (std::size_t i = 0; i < kNumbersBytes; ++i) {
        bytes[i] = static_cast<std::uint8_t>(cRand());
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
    if (connectionHook) connectionHook(db);
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

void setDatabaseConnectionHookForTesting(std::function<void(sqlite3*)> hook) {
    connectionHook = std::move(hook);
}

void setDatabaseWorkerForTesting(std::function<void(std::int32_t seconds, std::int32_t worker)> worker) {
    workerForTesting = std::move(worker);
}

double runDatabaseTest(std::int32_t seconds, std::int32_t n) {
    n = std::clamp(n, 0, kDatabaseMaxWorkers);
    WorkerSyncArea area = currentWorkerSyncArea();
    if (!area.valid()) return 0.0;
    const std::function<void(std::int32_t, std::int32_t)> worker =
        workerForTesting ? workerForTesting : databaseWorker;

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
        // Leaving this block ends the group: workers still running are
        // killed and every worker is reaped.
        WorkerGroup workers(area);
        workers.start(n, [&](int i) { worker(seconds, i); });

        const std::int64_t bound = workerWaitBoundNanoseconds(seconds);
        const auto posted = [&](int i) { return area.result(i) > 0.0; };
        // A failed fork (the abort byte), a worker that ends before go (one
        // without data memory) or one not ready within the bound ends the
        // run before go, with nothing measured.
        WorkerGroup::Outcome outcome = workers.waitReady(bound);
        if (outcome == WorkerGroup::Outcome::ok) {
            area.setGo(true);
            outcome = workers.pause(static_cast<std::int64_t>(seconds) * 1000000000, posted);
            if (outcome == WorkerGroup::Outcome::ok) outcome = workers.waitPosted(bound, posted);
            if (outcome == WorkerGroup::Outcome::ok) {
                for (int i = 0; i < n; ++i) total += area.result(i);
                workers.end(bound);  // posted workers only have to return and exit
            }
        } else {
            area.setAbort(true);
        }
        // A worker that ended without posting, or a bound that ran out.
        const bool lostOrLate =
            outcome == WorkerGroup::Outcome::timedOut || outcome == WorkerGroup::Outcome::lost;
        if (lostOrLate && debugLogging) debugLog("Test Timeout");
    }

    sqlite3_shutdown();
    return total;
}
