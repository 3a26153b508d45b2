#pragma once

#include <memory>

#include <QApplication>

#include "app_delegate.h"
#include "test_state.h"

class ContentView;

// The application: one window whose content is ContentView, and one
// TestState that every view of that window shares. Both live as long as the
// application.
class VelocitrixApp : public QApplication {
    Q_OBJECT
public:
    // makeBaseline creates the engine record (createBaseline in the
    // product).
    VelocitrixApp(int& argc, char** argv, TestState::BaselineFactory makeBaseline = &createBaseline);
    ~VelocitrixApp() override;

    // Created on first use.
    TestState& testState();
    ContentView& window();

    // Shows the window and runs the event loop until the application quits;
    // then waits for the background work item in progress: a running suite
    // ends the process at its next check, a single test or an upload is let
    // finish, so that no engine call is still running when the program's
    // static objects are destroyed. Returns the event loop's exit status.
    int run();

private:
    AppDelegate appDelegate_;
    TestState::BaselineFactory makeBaseline_;
    std::unique_ptr<TestState> testState_;
    std::unique_ptr<ContentView> window_;
};
