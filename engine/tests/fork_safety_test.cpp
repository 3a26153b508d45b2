// What a worker must never call: anything that can wait for ever on a lock
// that another thread of the parent held at the fork and that the fork does
// not reset. This program replaces the calls of that kind that the tests'
// libraries make with recorders that pass each call on: the C library's
// rand() and srand() (one lock), the C++ runtime's guard of a function-local
// static made for the first time, and the registration of that static's
// destructor (the exit-handler lock). A call made in a forked worker of a
// real run of every test, debug log on, is recorded in memory shared with
// the test; none may be.

#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cpu/cpu_runner.h"
#include "memory/memory_internal.h"
#include "state/baseline.h"
#include "test_support.h"

namespace {

// In a shared mapping, so that workers record into the test's own copy.
struct WorkerCalls {
    pid_t test = 0;             // calls made by this process are not workers'
    std::atomic<int> count{0};  // calls made in workers
    char first[256] = {};       // what the first of them was, and from where
};
WorkerCalls* recorded = nullptr;  // null: not recording

void record(const char* call, const void* caller) {
    WorkerCalls* calls = recorded;
    if (calls == nullptr || getpid() == calls->test) return;
    if (calls->count.fetch_add(1) != 0) return;
    Dl_info where{};
    const bool known = dladdr(caller, &where) != 0 && where.dli_fname != nullptr;
    std::snprintf(calls->first, sizeof calls->first, "%s from %s+%#lx", call, known ? where.dli_fname : "?",
                  known ? static_cast<unsigned long>(static_cast<const char*>(caller) -
                                                     static_cast<const char*>(where.dli_fbase))
                        : 0ul);
}

// The replaced function, looked up on first use. Kept in a plain pointer
// (constant-initialised): a function-local static here would itself call
// the guard.
template <class Function>
Function next(Function& real, const char* name) {
    if (real == nullptr) real = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    if (real == nullptr) std::abort();
    return real;
}

int (*realRand)() = nullptr;
void (*realSrand)(unsigned) = nullptr;
int (*realGuardAcquire)(__cxxabiv1::__guard*) = nullptr;
int (*realAtexit)(void (*)(void*), void*, void*) = nullptr;

}  // namespace

extern "C" {
int rand() noexcept {
    record("rand", __builtin_return_address(0));
    return next(realRand, "rand")();
}
void srand(unsigned seed) noexcept {
    record("srand", __builtin_return_address(0));
    next(realSrand, "srand")(seed);
}
}  // extern "C"

namespace __cxxabiv1 {
extern "C" int __cxa_guard_acquire(__guard* guard) {
    record("a static's first initialisation", __builtin_return_address(0));
    return next(realGuardAcquire, "__cxa_guard_acquire")(guard);
}
extern "C" int __cxa_atexit(void (*destructor)(void*), void* object, void* dso) _GLIBCXX_NOTHROW {
    record("an exit handler's registration", __builtin_return_address(0));
    return next(realAtexit, "__cxa_atexit")(destructor, object, dso);
}
}  // namespace __cxxabiv1

namespace {

class ForkSafetyTest : public vxtest::WorkerGroupTest {
protected:
    void SetUp() override {
        void* shared = mmap(nullptr, sizeof(WorkerCalls), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(shared, MAP_FAILED);
        calls_ = new (shared) WorkerCalls();
        calls_->test = getpid();
        record_.testSeconds = 1;
        record_.numTestProcesses = 2;
        record_.numCores = 2;
        recorded = calls_;
    }
    void TearDown() override {
        recorded = nullptr;
        setWorkerDispatchForTesting(nullptr);
        munmap(calls_, sizeof(WorkerCalls));
        WorkerGroupTest::TearDown();
    }
    WorkerCalls* calls_ = nullptr;
    Baseline record_;
    // With the debug log on, so that the workers' log lines run too.
    vxtest::ScopedWorkDir dir_;
    vxtest::ScopedDebugLogging logging_;
};

class CpuWorkerForkSafetyTest : public ForkSafetyTest, public ::testing::WithParamInterface<int> {};

}  // namespace

// The recorders see such calls when a worker makes them.
TEST_F(ForkSafetyTest, RecordsWhatAWorkerMustNotCall) {
    setWorkerDispatchForTesting([](int, std::int32_t, int) {
        static const std::string madeInAWorker = "guard, then exit handler";
        return static_cast<double>(std::rand() % 2) + static_cast<double>(madeInAWorker.size());
    });
    EXPECT_GT(runTestProcesses(0, &record_, 1), 0.0);
    EXPECT_EQ(calls_->count.load(), 3) << calls_->first;
}

TEST_P(CpuWorkerForkSafetyTest, WorkersOfTheTestCallNothingThatWaitsOnAnotherThreadsLock) {
    EXPECT_GT(runTestProcesses(GetParam(), &record_, 2), 0.0);
    EXPECT_EQ(calls_->count.load(), 0) << calls_->first;
}

INSTANTIATE_TEST_SUITE_P(EveryCpuTest, CpuWorkerForkSafetyTest, ::testing::Range(0, 9));

TEST_F(ForkSafetyTest, DatabaseWorkersCallNothingThatWaitsOnAnotherThreadsLock) {
    EXPECT_GT(runDatabaseTest(1, 2), 0.0);
    EXPECT_EQ(calls_->count.load(), 0) << calls_->first;
}
