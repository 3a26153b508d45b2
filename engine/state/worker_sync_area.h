#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The memory shared between a runner and its workers: one anonymous shared
// mapping of 18,952 bytes, made by every Baseline construction; the newest
// mapping is the one every runner uses. Forked workers see the same bytes.
//
// Layout (byte offsets):
//   0            go flag
//   1            abort flag
//   2 + i        ready flag of worker i (i < 256)
//   258 + i      done flag of worker i
//   514..519     reserved
//   520 + 8i     result double of worker i
//   2568 + 40i   five matrix sub-result doubles of worker i
//   12808 + 24i  three encryption sub-result doubles of worker i (AES, SHA,
//                ECDSA, bytes per second)
//
// Flags are single bytes set with release stores and polled with acquire
// loads, so whatever a party stores before setting a flag (a worker's result
// before its done flag) is visible to whoever sees the flag set. No locks and
// no read-modify-write operations are used on the area.
class WorkerSyncArea {
public:
    static constexpr std::size_t kBytes = 18952;
    static constexpr int kMaxWorkers = 256;
    static constexpr std::size_t kGoOffset = 0;
    static constexpr std::size_t kAbortOffset = 1;
    static constexpr std::size_t kReadyOffset = 2;
    static constexpr std::size_t kDoneOffset = 258;
    static constexpr std::size_t kResultOffset = 520;
    static constexpr std::size_t kMatrixOffset = 2568;
    static constexpr std::size_t kEncryptionOffset = 12808;
    static_assert(kEncryptionOffset + kMaxWorkers * 3 * sizeof(double) == kBytes);

    explicit WorkerSyncArea(std::uint8_t* base = nullptr) : base_(base) {}

    // False when no area could be mapped; runners then report 0.0.
    bool valid() const { return base_ != nullptr; }
    std::uint8_t* data() const { return base_; }

    bool go() const { return loadFlag(kGoOffset); }
    void setGo(bool on) { storeFlag(kGoOffset, on); }
    bool abort() const { return loadFlag(kAbortOffset); }
    void setAbort(bool on) { storeFlag(kAbortOffset, on); }
    bool ready(int worker) const { return loadFlag(kReadyOffset + worker); }
    void setReady(int worker, bool on) { storeFlag(kReadyOffset + worker, on); }
    bool done(int worker) const { return loadFlag(kDoneOffset + worker); }
    void setDone(int worker, bool on) { storeFlag(kDoneOffset + worker, on); }

    double result(int worker) const { return loadDouble(kResultOffset + 8 * worker); }
    void setResult(int worker, double v) { storeDouble(kResultOffset + 8 * worker, v); }
    double matrixResult(int worker, int slot) const {
        return loadDouble(kMatrixOffset + 40 * worker + 8 * slot);
    }
    void setMatrixResult(int worker, int slot, double v) {
        storeDouble(kMatrixOffset + 40 * worker + 8 * slot, v);
    }
    double encryptionResult(int worker, int slot) const {
        return loadDouble(kEncryptionOffset + 24 * worker + 8 * slot);
    }
    void setEncryptionResult(int worker, int slot, double v) {
        storeDouble(kEncryptionOffset + 24 * worker + 8 * slot, v);
    }

private:
    bool loadFlag(std::size_t offset) const {
        return std::atomic_ref<std::uint8_t>(base_[offset]).load(std::memory_order_acquire) != 0;
    }
    void storeFlag(std::size_t offset, bool on) {
        std::atomic_ref<std::uint8_t>(base_[offset]).store(on ? 1 : 0, std::memory_order_release);
    }
    double loadDouble(std::size_t offset) const {
        return std::atomic_ref<double>(*reinterpret_cast<double*>(base_ + offset))
            .load(std::memory_order_relaxed);
    }
    void storeDouble(std::size_t offset, double v) {
        std::atomic_ref<double>(*reinterpret_cast<double*>(base_ + offset))
            .store(v, std::memory_order_relaxed);
    }

    std::uint8_t* base_;
};

// Maps a new area and makes it the current one; returns it (invalid when the
// mapping failed, in which case the previous area stays current).
WorkerSyncArea mapWorkerSyncArea();

// The area of the most recently constructed Baseline.
WorkerSyncArea currentWorkerSyncArea();
