#pragma once

#include <QObject>
#include <QStringList>

#include <velocitrix/engine.h>

// State of one test row: not run since start / waiting in a suite run /
// running now / finished (the row then shows the engine's result text).
enum class TestStatus { not_run, queued, running, complete };

// State of the upload: none running and none recorded as done / one running
// / the results have been uploaded (the bar then offers the results page).
enum class UploadStatus { waiting, initiated, complete };

// Which alert a view presents: the question before an upload (in the main
// window: the notice that tests are incomplete) / the upload failed / the
// upload succeeded.
enum class UploadAlert { confirm, failed, success };

// The window's one shared state: the engine handle and the flags that
// enable buttons, pick labels and choose alerts. Every view of the window
// reads the same instance.
//
// Each published property announces every write (also of an unchanged
// value) through its own signal, and the views that read it redraw; so a
// redraw after a run fetches fresh result and mark texts even when a flag
// keeps its value. Properties are written only on the main thread; a write
// from any other thread is a programming error and aborts.
class TestState : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool disableButtons READ disableButtons WRITE setDisableButtons NOTIFY disableButtonsChanged)
    Q_PROPERTY(bool resultsComplete READ resultsComplete WRITE setResultsComplete NOTIFY resultsCompleteChanged)
    Q_PROPERTY(bool CpuComplete READ CpuComplete WRITE setCpuComplete NOTIFY CpuCompleteChanged)
    Q_PROPERTY(bool MemComplete READ MemComplete WRITE setMemComplete NOTIFY MemCompleteChanged)
    Q_PROPERTY(bool uploadEnabled READ uploadEnabled NOTIFY uploadEnabledChanged)

public:
    using BaselineFactory = Baseline* (*)();

    // Creates the engine record (through makeBaseline, createBaseline in the
    // product), fixes uploadEnabled from it, then turns the debug log on for
    // every argument equal to "-debug". The arguments are the process's, the
    // program path first; no other argument is read.
    explicit TestState(const QStringList& arguments,
                       BaselineFactory makeBaseline = &createBaseline,
                       QObject* parent = nullptr);

    // True while a run, or an upload, is in progress: disables every "Run"
    // button and "Upload Results".
    bool disableButtons() const { return disableButtons_; }
    void setDisableButtons(bool value);

    // All sixteen results are above zero, as last read after a run.
    bool resultsComplete() const { return resultsComplete_; }
    void setResultsComplete(bool value);

    // The engine has a CPU mark / a memory mark above zero, as last read.
    bool CpuComplete() const { return CpuComplete_; }
    void setCpuComplete(bool value);
    bool MemComplete() const { return MemComplete_; }
    void setMemComplete(bool value);

    // Whether this system may upload; fixed at creation.
    bool uploadEnabled() const { return uploadEnabled_; }

    UploadStatus resultsUploaded() const { return resultsUploaded_; }
    void setResultsUploaded(UploadStatus value);

    // The engine's record, handed unchanged to every engine call; never
    // freed. Set once at creation and never null.
    Baseline* baseline = nullptr;

signals:
    void disableButtonsChanged();
    void resultsCompleteChanged();
    void CpuCompleteChanged();
    void MemCompleteChanged();
    void uploadEnabledChanged();
    void resultsUploadedChanged();

private:
    static void requireMainThread();

    bool disableButtons_ = false;
    bool resultsComplete_ = false;
    bool CpuComplete_ = false;
    bool MemComplete_ = false;
    bool uploadEnabled_ = false;
    UploadStatus resultsUploaded_ = UploadStatus::waiting;
};
