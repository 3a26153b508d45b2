#pragma once

#include <functional>

// Work items and the hand-back to the main thread, in the shape the views
// use them:
//   DispatchQueue::global().async([...] { ...blocking engine call... });
//   DispatchQueue::main().async([...] { ...write TestState, touch widgets... });
//
// The global queue is the process-wide background thread pool at normal
// priority; each work item runs once on one of its threads. The main queue is
// the application object's event queue: a submitted step runs on the main
// thread at a later turn of the event loop, after every step submitted
// before it from the same thread. Steps submitted once the event loop has
// ended are never run.
class DispatchQueue {
public:
    static DispatchQueue& global();
    static DispatchQueue& main();

    void async(std::function<void()> work);

private:
    enum class Kind { background, mainThread };
    explicit DispatchQueue(Kind kind) : kind_(kind) {}

    Kind kind_;
};

// True on the thread that runs the application's event loop.
bool onMainThread();
