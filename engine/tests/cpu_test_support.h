#pragma once

// Helpers of the CPU tests' suites.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "state/clock_log.h"
#include "test_support.h"

// For its scope: the debug log on, written into a fresh working directory;
// messages() gives the log's lines without their time stamps.
class ScopedDebugLog {
public:
    std::vector<std::string> messages() const { return vxtest::debugMessages(); }

private:
    vxtest::ScopedWorkDir dir_;
    vxtest::ScopedDebugLogging logging_;
};

// The number that follows `label` in a debug message, parsed as a double
// (the log writes six significant digits). Fails the test when missing.
inline double loggedNumber(const std::string& message, const std::string& label) {
    const auto at = message.find(label);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no \"" << label << "\" in: " << message;
        return 0.0;
    }
    return std::strtod(message.c_str() + at + label.size(), nullptr);
}

// Runs `test` in a forked child that can get no block of `bufferBytes`:
// its data-segment limit forbids new mappings, and whatever free heap
// space the child inherited is taken first by blocks of that size. The
// child reports whether the test returned exactly 0.0: 0 = it did, 1 = it
// returned something else, 4 = the kernel did not enforce the limit,
// 5 = an exception escaped the test, anything else = the child died.
inline int exitCodeWithoutMemory(const std::function<double()>& test, std::size_t bufferBytes) {
    const pid_t pid = fork();
    if (pid == 0) {
        rlimit limit{0, 0};
        if (setrlimit(RLIMIT_DATA, &limit) != 0) _exit(3);
        int taken = 0;
        while (std::malloc(bufferBytes) != nullptr) {
            if (++taken > 64) _exit(4);
        }
        try {
            _exit(test() == 0.0 ? 0 : 1);
        } catch (...) {
            _exit(5);
        }
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

// The body of a test that `test` returns 0.0 when its `bytes` block cannot
// be had. The data-segment limit clashes with the address sanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define EXPECT_ZERO_WITHOUT_MEMORY(test, bytes) GTEST_SKIP() << "the sanitizer needs the data segment"
#else
#define EXPECT_ZERO_WITHOUT_MEMORY(test, bytes)                                         \
    do {                                                                                \
        const int code = exitCodeWithoutMemory([] { return test(0); }, bytes);        \
        if (code == 4) GTEST_SKIP() << "RLIMIT_DATA is not enforced here";              \
        EXPECT_EQ(code, 0);                                                             \
    } while (false)
#endif

// A CPU test run for real with a deadline already past: it logs one line
// that starts with `head` and holds `counted` (the units of the one pass it
// must still make), and returns units / elapsed x scale.
inline void expectOnePastDeadline(double (*test)(std::int32_t), const std::string& head,
                                  const std::string& counted, double units, double scale = 1.0) {
    ScopedDebugLog log;
    const double result = test(0);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(head, 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(counted), std::string::npos) << lines[0];
    const double elapsed = loggedNumber(lines[0], head);
    ASSERT_GT(elapsed, 0.0);
    EXPECT_NEAR(result, units / elapsed * scale, result * 1e-5);
}

// What a CPU test did through its seam, kept by stand-ins that pass each
// call on to the real one. events spells the calls in order, one letter
// each; run() writes a run of one letter as the letter and its length
// ("K500"). The clock is fed: `readings` in order, or with none the
// monotonic clock first and each later reading `step` on. work() throws
// once more units were done than there are fed readings (or `runaway`): a
// loop that never reads its clock again would run for ever.
struct CallLog {
    std::string events;
    std::vector<std::int64_t> readings;
    std::int64_t step = 0;
    std::vector<std::int64_t> read;  // every reading handed out
    int failingAllocation = -1;      // the index of the allocation that fails
    int allocations = 0;
    std::vector<const void*> blocks;
    std::vector<const void*> released;
    long units = 0;
    long runaway = 10000000;

    std::int64_t now() {
        events += 'N';
        const std::int64_t value = !readings.empty() ? readings.at(read.size())
                                   : read.empty()    ? nowNanoseconds()
                                                     : read.back() + step;
        read.push_back(value);
        return value;
    }
    void work(char letter, bool counted = false) {
        if (++units > (readings.empty() ? runaway : static_cast<long>(readings.size()))) {
            throw std::length_error("more work than clock readings");
        }
        counted ? run(letter) : void(events += letter);
    }
    void run(char letter) {
        std::size_t at = events.size();
        while (at > 0 && std::isdigit(static_cast<unsigned char>(events[at - 1]))) --at;
        if (at == 0 || events[at - 1] != letter) {
            events += letter;
            return;
        }
        const long count = at == events.size() ? 1 : std::stol(events.substr(at));
        events.resize(at);
        events += std::to_string(count + 1);
    }
    // Logs 'A'; nullptr for the failing allocation, else what allocate gives.
    template <typename T, typename Allocate>
    T* allocate(Allocate&& allocate) {
        events += 'A';
        if (allocations++ == failingAllocation) return nullptr;
        T* block = allocate();
        blocks.push_back(block);
        return block;
    }
    void release(const void* block) {
        events += 'R';
        released.push_back(block);
    }
};

// A seam class Calls (blocks of type Block) whose allocate, release and
// clock calls are logged and passed on. Allocation k must ask for sizes[k]
// bytes; expectDataMade() checks the test's data at the first reading.
template <typename Calls, typename Block>
struct LoggedCalls : Calls, CallLog {
    explicit LoggedCalls(std::vector<std::size_t> sizes) : sizes_(std::move(sizes)) {}

    Block* allocate(std::size_t bytes) override {
        EXPECT_EQ(bytes, sizes_.at(static_cast<std::size_t>(allocations)));
        return CallLog::allocate<Block>([&] { return Calls::allocate(bytes); });
    }
    void release(Block* block) override {
        CallLog::release(block);
        Calls::release(block);
    }
    std::int64_t now() override {
        if (read.empty()) expectDataMade();
        return CallLog::now();
    }
    virtual void expectDataMade() = 0;

private:
    std::vector<std::size_t> sizes_;
};

// Allocation k of the stand-in Watched failing, for each k: `run` scores 0
// with the calls events[k], gives back every block it had and logs nothing.
template <typename Watched, typename Calls>
void expectZeroWithoutEachBlock(double (*run)(std::int32_t, Calls&), const std::vector<std::string>& events) {
    for (std::size_t k = 0; k < events.size(); ++k) {
        SCOPED_TRACE(events[k]);
        ScopedDebugLog log;
        Watched calls;
        calls.failingAllocation = static_cast<int>(k);
        EXPECT_EQ(run(6, calls), 0.0);
        EXPECT_EQ(calls.events, events[k]);
        EXPECT_EQ(calls.released, calls.blocks);
        EXPECT_TRUE(log.messages().empty());
    }
}
