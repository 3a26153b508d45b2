// The database test: its data, its passes as the database itself reports
// them, and its worker protocol with real worker processes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "memory/memory_internal.h"
#include "memory/memory_tests.h"
#include "state/baseline.h"
#include "state/worker_group.h"
#include "state/worker_sync_area.h"
#include "test_support.h"

namespace {

using vxtest::secondsSince;
using vxtest::readyForGo;
using vxtest::stall;

// A worker without data: on go posts its index plus one.
void quickWorker(std::int32_t, std::int32_t worker) {
    if (readyForGo(worker)) currentWorkerSyncArea().setResult(worker, worker + 1.0);
}

// What the database itself reports of the connection a pass run opens:
// every statement run (by its text), the rows each returned, and when the
// connection was opened, the first statement began, the last ended and the
// connection closed (nanoseconds).
struct StatementTrace {
    std::map<std::string, std::uint64_t> runs;
    std::map<std::string, std::uint64_t> rows;
    std::int64_t opened = 0, firstBegan = std::numeric_limits<std::int64_t>::max(), lastEnded = 0, closed = 0;

    StatementTrace() {
        setDatabaseConnectionHookForTesting([this](sqlite3* db) {
            opened = nowNanoseconds();
            sqlite3_trace_v2(db, SQLITE_TRACE_STMT | SQLITE_TRACE_PROFILE | SQLITE_TRACE_ROW | SQLITE_TRACE_CLOSE,
                             record, this);
        });
    }
    ~StatementTrace() { setDatabaseConnectionHookForTesting({}); }

    static int record(unsigned kind, void* self, void* p, void*) {
        auto& trace = *static_cast<StatementTrace*>(self);
        const std::int64_t now = nowNanoseconds();
        if (kind == SQLITE_TRACE_CLOSE) {
            trace.closed = now;
            return 0;
        }
        const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(p));
        if (sql == nullptr) return 0;  // the library's own statements (schema reads)
        const std::string text = sql;
        if (kind == SQLITE_TRACE_STMT) {
            ++trace.runs[text];
            trace.firstBegan = std::min(trace.firstBegan, now);
        } else if (kind == SQLITE_TRACE_PROFILE) {
            trace.lastEnded = now;
        } else {
            ++trace.rows[text];
        }
        return 0;
    }
};

const std::string kCreate =
    "CREATE TABLE `vx_mem_test_db` (`firstname` VARCHAR(50), `lastname` VARCHAR(50), `number` INTEGER, "
    "`data` BLOB(1000));";
const std::string kInsert = "INSERT INTO vx_mem_test_db VALUES (?1, ?2, ?3, ?4)";
std::string select(char a, char b, char c, char d) {
    return std::string("SELECT * FROM vx_mem_test_db WHERE firstname LIKE '") + a + "%' OR firstname LIKE '" + b +
           "%' OR firstname LIKE '" + c + "%' OR firstname LIKE '" + d + "%'";
}
const std::string kSelect1 = select('A', 'B', 'C', 'D');
const std::string kSelect2 = select('E', 'F', 'G', 'H');
const std::string kSelect3 = select('I', 'J', 'K', 'L');

// Rows of a pass whose first name starts with a letter from `first` to `last`.
std::uint64_t rowsStarting(const DatabaseData& data, char first, char last) {
    std::uint64_t rows = 0;
    for (std::uint64_t r = 0; r < kRowsPerPass; ++r) {
        const char letter = data.names[r * kNameRecordBytes];
        rows += letter >= first && letter <= last;
    }
    return rows;
}

// The counts of a pass run are the work the database did: every counted
// insert ran, every select counted ran and returned its rows, and every
// statement ran between the two clock readings (the open before the first,
// the close after the last).
void expectCountsAreTheWorkDone(const DatabaseTally& tally, StatementTrace& trace, const DatabaseData& data) {
    auto& runs = trace.runs;  // statements never run read as 0
    auto& rows = trace.rows;
    const std::uint64_t passes = runs[kCreate];
    EXPECT_GE(passes, 1u);
    EXPECT_EQ(runs[kInsert], tally.inserted);
    EXPECT_EQ(tally.inserted, passes * kRowsPerPass);
    EXPECT_EQ(runs[kSelect1], passes);
    EXPECT_EQ(tally.selected,
              runs[kSelect1] * kSelect1Rows + runs[kSelect2] * kSelect2Rows + runs[kSelect3] * kSelect3Rows);
    EXPECT_EQ(rows[kSelect1], runs[kSelect1] * rowsStarting(data, 'A', 'D'));
    EXPECT_EQ(rows[kSelect2], runs[kSelect2] * rowsStarting(data, 'E', 'H'));
    EXPECT_EQ(rows[kSelect3], runs[kSelect3] * rowsStarting(data, 'I', 'L'));
    EXPECT_EQ(tally.rowsSeen, runs[kSelect3] == passes ? rowsStarting(data, 'A', 'L') : rowsStarting(data, 'A', 'D'));

    EXPECT_LE(trace.opened, tally.start);
    EXPECT_LE(tally.start, trace.firstBegan);
    EXPECT_LE(trace.lastEnded, tally.end);
    EXPECT_LE(tally.end, trace.closed);
}

class DatabaseTest : public vxtest::WorkerGroupTest {
protected:
    void TearDown() override {
        WorkerGroupTest::TearDown();
        setDatabaseWorkerForTesting({});
        setAllocationHookForTesting({});
    }
    Baseline baseline_;  // maps the area the test uses
};

TEST_F(DatabaseTest, WorkerCountFollowsCoresAndStopsAt32) {
    EXPECT_EQ(databaseWorkerCount(8, 8, 8), 8);
    EXPECT_EQ(databaseWorkerCount(16, 8, 16), 8);
    EXPECT_EQ(databaseWorkerCount(8, 8, 4), 4);
    EXPECT_EQ(databaseWorkerCount(128, 64, 128), 32);
    EXPECT_EQ(databaseWorkerCount(40, 40, 40), 32);
    EXPECT_EQ(databaseWorkerCount(1, 1, 1), 1);
}

TEST_F(DatabaseTest, DataIsTheSameForEveryWorker) {
    DatabaseData first, second;
    ASSERT_TRUE(generateDatabaseData(first));
    ASSERT_TRUE(generateDatabaseData(second));
    EXPECT_EQ(std::memcmp(first.names, second.names, kNameRecords * kNameRecordBytes), 0);
    EXPECT_EQ(std::memcmp(first.numbers, second.numbers, kNameRecords * 8), 0);
    EXPECT_EQ(std::memcmp(first.blob, first.names, kBlobBytes), 0);

    bool allLetters = true;
    for (std::uint64_t r = 0; r < kNameRecords; r += 997) {
        const char* record = first.names + r * kNameRecordBytes;
        EXPECT_EQ(std::strlen(record), 49u) << r;
        for (int c = 0; c < 49; ++c) allLetters = allLetters && record[c] >= 'A' && record[c] <= 'O';
    }
    EXPECT_TRUE(allLetters);
    // The blob holds 20 whole records, zero bytes included.
    EXPECT_EQ(first.blob[49], 0);
    EXPECT_EQ(first.blob[999], 0);
}

// A pass is 121,135 inserts and 97,316 selected rows. The deadline passes
// after the first select (32,152) of the last pass, which is cut there, or
// later in it (the pass runs to its end); a 0-second run is cut in its first.
TEST_F(DatabaseTest, PassesCountTheWorkTheDatabaseDid) {
    DatabaseData data;
    ASSERT_TRUE(generateDatabaseData(data));
    for (const std::int32_t seconds : {0, 1}) {
        SCOPED_TRACE(seconds);
        StatementTrace trace;
        const DatabaseTally tally = runDatabasePasses(data, seconds);
        ASSERT_TRUE(tally.completed);
        ASSERT_EQ(tally.inserted % 121135, 0u);
        const std::uint64_t passes = tally.inserted / 121135;
        ASSERT_GE(passes, 1u);
        const bool whole = tally.selected == 97316 * passes;
        EXPECT_TRUE(whole || tally.selected == 97316 * (passes - 1) + 32152) << tally.selected << " after " << passes;
        EXPECT_TRUE(seconds != 0 || (passes == 1 && !whole));
        expectCountsAreTheWorkDone(tally, trace, data);
        // A cut pass drops no table and leaves its select transaction open.
        EXPECT_EQ(trace.runs["DROP TABLE `vx_mem_test_db`;"], whole ? passes : passes - 1);
        EXPECT_EQ(trace.runs["BEGIN TRANSACTION"], 2 * passes);
        EXPECT_EQ(trace.runs["END TRANSACTION"], whole ? 2 * passes : 2 * passes - 1);
        EXPECT_GE(tally.end - tally.start, seconds * 1000000000LL);
        EXPECT_DOUBLE_EQ(tally.rate, static_cast<double>(tally.inserted + tally.selected) /
                                         (static_cast<double>(tally.end - tally.start) / 1e9) / 1000.0);
    }
}

TEST_F(DatabaseTest, WorkerProcessesPostRatesThatAreSummed) {
    WorkerSyncArea area = currentWorkerSyncArea();
    // The data are made before go, outside the timed part: a test buffer
    // asked for after go is refused.
    setAllocationHookForTesting([](std::size_t) { return !currentWorkerSyncArea().go(); });
    double total = 0.0;
    const vxtest::Wakeups run = vxtest::countWakeups([&] { total = runDatabaseTest(1, 2); });
    EXPECT_GE(run.seconds, 1.0);
    // While the workers measure the parent sleeps; waking every 10 ms: 100.
    EXPECT_LT(run.switches, 20);
    ASSERT_GT(area.result(0), 0.0);
    ASSERT_GT(area.result(1), 0.0);
    EXPECT_EQ(total, area.result(0) + area.result(1));
}

TEST_F(DatabaseTest, NoWorkersSleepsTheDurationAndGivesZero) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runDatabaseTest(1, 0), 0.0);
    EXPECT_GE(secondsSince(start), 1.0);
    EXPECT_TRUE(currentWorkerSyncArea().go());
}

TEST_F(DatabaseTest, WorkerCountIsCappedAt32) {
    setDatabaseWorkerForTesting(quickWorker);
    EXPECT_EQ(runDatabaseTest(0, 40), 528.0);  // 1 + 2 + ... + 32
}

// Every failure gives 0 within its own bound, silently but for the timeout
// line (any worker that ends without posting, or is too late), and leaves no
// worker behind.
TEST_F(DatabaseTest, EveryFailureGivesZeroWithinItsBound) {
    using Failure = vxtest::WorkerFailure<void (*)(std::int32_t, std::int32_t)>;
    vxtest::ScopedWorkDir dir;
    WorkerSyncArea area = currentWorkerSyncArea();
    vxtest::expectEveryFailureGivesZero(std::vector<Failure>{
        {"fork fails", 1, [](int worker) { return worker != 2; }, nullptr, quickWorker, "", false, 0.0, 0.8},
        {"never ready", 1, nullptr, [](int worker) { if (worker == 1) stall(); }, quickWorker, "", true, 1.0, 1.8},
        // The real worker, without data memory: posts 0.0 and ends before ready.
        {"no data memory", 1, nullptr, nullptr,
         [](std::int32_t seconds, std::int32_t worker) {
             setAllocationHookForTesting([](std::size_t bytes) { return bytes != kNameRecords * kNameRecordBytes; });
             databaseWorker(seconds, worker);
         },
         "", true, 0.0, 0.8},
        // Noticed at once although the test lasts 3 s.
        {"crashes after go", 3, nullptr, nullptr,
         [](std::int32_t seconds, std::int32_t worker) {
             if (worker == 1 && readyForGo(worker)) raise(SIGKILL);
             quickWorker(seconds, worker);
         },
         "", true, 0.0, 0.8},
        // The test's 1 s, then the 1 s wait for the results.
        {"never posts", 1, nullptr, nullptr,
         [](std::int32_t, std::int32_t worker) {
             currentWorkerSyncArea().setReady(worker, true);
             stall();
         },
         "", true, 2.0, 2.8},
    }, [&](const Failure& failure) {
        setDatabaseWorkerForTesting(failure.body);
        const double total = runDatabaseTest(failure.seconds, 3);
        if (failure.allowFork) {
            // The abort byte ended the run before go: nothing was measured.
            EXPECT_TRUE(area.abort());
            EXPECT_FALSE(area.go());
            for (int i = 0; i < 3; ++i) EXPECT_EQ(area.result(i), 0.0) << i;
        }
        return total;
    });
}

// The caller killed before go, while its workers generate their data or
// wait for go: no worker is left 2 s later.
TEST_F(DatabaseTest, NoWorkerOutlivesAKilledCaller) {
    WorkerSyncArea area = currentWorkerSyncArea();
    for (const bool waitingForGo : {false, true}) {
        SCOPED_TRACE(waitingForGo ? "waiting for go" : "generating data");
        // Worker 0 never reports ready, so the others wait for go.
        workerGroupSeamsForTesting().started = [waitingForGo](int worker) {
            if (waitingForGo && worker == 0) stall();
        };
        vxtest::expectNoWorkerOutlivesItsRunner(
            workers_, 3, [] { runDatabaseTest(1, 3); },
            [&] { return waitingForGo ? area.ready(1) && area.ready(2) : !(area.ready(0) || area.ready(1) || area.ready(2)); },
            false, waitingForGo ? SIGINT : SIGTERM);
    }
}

}  // namespace
