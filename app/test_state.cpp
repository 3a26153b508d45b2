#include "test_state.h"

#include <QtGlobal>

#include "dispatch.h"

TestState::TestState(const QStringList& arguments, BaselineFactory makeBaseline, QObject* parent)
    : QObject(parent) {
    setDisableButtons(false);
    setResultsComplete(false);
    setCpuComplete(false);
    setMemComplete(false);
    setResultsUploaded(UploadStatus::waiting);

    baseline = makeBaseline();

    uploadEnabled_ = isSupportedSystem(baseline);
    emit uploadEnabledChanged();

    // After creation on purpose: the engine's start-up lines (version and
    // detection) never reach the debug log, only what runs afterwards.
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-debug"))
            setDebugLogging(true);
    }
}

void TestState::requireMainThread() {
    if (!onMainThread())
        qFatal("TestState written outside the main thread");
}

void TestState::setDisableButtons(bool value) {
    requireMainThread();
    disableButtons_ = value;
    emit disableButtonsChanged();
}

void TestState::setResultsComplete(bool value) {
    requireMainThread();
    resultsComplete_ = value;
    emit resultsCompleteChanged();
}

void TestState::setCpuComplete(bool value) {
    requireMainThread();
    CpuComplete_ = value;
    emit CpuCompleteChanged();
}

void TestState::setMemComplete(bool value) {
    requireMainThread();
    MemComplete_ = value;
    emit MemCompleteChanged();
}

void TestState::setResultsUploaded(UploadStatus value) {
    requireMainThread();
    resultsUploaded_ = value;
    emit resultsUploadedChanged();
}
