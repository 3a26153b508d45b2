#pragma once

#include <atomic>

// One result, sub-result or mark of the state record. The window's thread
// reads these while a run writes them, so every single load and store is
// indivisible. Updates come from one writer at a time (the run), so an add is
// a load followed by a store; no ordering between different fields is
// promised.
class SharedDouble {
public:
    SharedDouble(double value = 0.0) : value_(value) {}
    SharedDouble(const SharedDouble&) = delete;
    SharedDouble& operator=(const SharedDouble&) = delete;

    double load() const { return value_.load(std::memory_order_relaxed); }
    void store(double value) { value_.store(value, std::memory_order_relaxed); }

    operator double() const { return load(); }
    SharedDouble& operator=(double value) { store(value); return *this; }
    SharedDouble& operator+=(double value) { store(load() + value); return *this; }
    SharedDouble& operator/=(double value) { store(load() / value); return *this; }

private:
    static_assert(std::atomic<double>::is_always_lock_free);
    std::atomic<double> value_;
};
