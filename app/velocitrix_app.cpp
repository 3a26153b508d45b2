#include "velocitrix_app.h"

#include <QThreadPool>

#include "content_view.h"

VelocitrixApp::VelocitrixApp(int& argc, char** argv, TestState::BaselineFactory makeBaseline)
    : QApplication(argc, argv), makeBaseline_(makeBaseline) {
    setApplicationName(QStringLiteral("Velocitrix"));
    setApplicationDisplayName(QStringLiteral("Velocitrix"));
    connect(this, &QCoreApplication::aboutToQuit, &appDelegate_, &AppDelegate::applicationWillTerminate);
}

VelocitrixApp::~VelocitrixApp() = default;

TestState& VelocitrixApp::testState() {
    if (!testState_)
        testState_ = std::make_unique<TestState>(arguments(), makeBaseline_);
    return *testState_;
}

ContentView& VelocitrixApp::window() {
    if (!window_)
        window_ = std::make_unique<ContentView>(testState());
    return *window_;
}

int VelocitrixApp::run() {
    window().show();
    const int status = exec();
    QThreadPool::globalInstance()->waitForDone();
    return status;
}
