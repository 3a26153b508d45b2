#pragma once

#include <atomic>

#include <QObject>

// Set once, on the main thread, when the application is about to quit; never
// cleared. A running suite reads it from its work item after queueing its
// rows and after each test but the last.
extern std::atomic<bool> isTerminating;

// Ends the process at once with exit status 0: standard streams are flushed,
// but no exit handler or static destructor runs, so nothing is torn down
// under threads that may still be inside the engine.
[[noreturn]] void terminateProcessNow();

// Notices the application's end.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

public slots:
    // The application is about to quit: sets isTerminating. Nothing is saved,
    // uploaded or released.
    void applicationWillTerminate();
};
