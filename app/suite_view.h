#pragma once

#include <vector>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "alert.h"
#include "test_state.h"

class QLabel;
class QPushButton;
class GroupBox;
class TestRow;

// What tells the CPU panel and the memory panel apart.
struct SuiteConfiguration {
    struct Row {
        const char* name;  // shown verbatim
        int id;            // test id handed to the engine
    };

    const char* label;       // group box label (localisable)
    const char* symbol;      // system symbol beside the label
    const char* markLabel;   // "CPU Mark" / "Memory Mark" (localisable)
    std::vector<Row> rows;   // display and run order
    int statusEntries;       // size of testStatus; entries are indexed by test id

    bool (TestState::*isComplete)() const;   // selects mark or "Incomplete"
    void (TestState::*setComplete)(bool);    // rewritten after a suite run
    void (TestState::*completeChanged)();    // its change notification
    char* (*markText)(Baseline*);
    bool (*hasMark)(Baseline*);
};

const SuiteConfiguration& cpuSuite();
const SuiteConfiguration& memorySuite();

// A suite panel: a mark row ("Run" for the whole suite, the mark's label and
// the mark) above one TestRow per test. Running the suite queues all its
// rows, runs their tests one after another in one background work item while
// each row shows its progress, re-reads the completion flags and, when all
// sixteen results are then present, offers to upload them.
//
// The row states (testStatus) belong to the panel. A work item writes them
// through writeTestStatus, which hands each write to the main thread; only
// the main thread touches the state and the widgets.
class SuiteView : public QWidget {
    Q_OBJECT
public:
    SuiteView(TestState& testState, const SuiteConfiguration& configuration, QWidget* parent = nullptr);

    // Rereads the flags, the mark text and every row.
    void redraw();

    // The mark row's "Run" (main thread).
    void runSuite();
    // Completion of a suite run (main thread).
    void suiteFinished();
    // The panel's alert, chosen by alert(), and each of the three by name.
    Alert uploadAlert();
    Alert uploadAlert(UploadAlert choice);
    // "Yes" in the upload prompt (main thread).
    void startUpload();
    // "View Results Online" in the success alert (main thread).
    void viewResultsOnline();

    TestStatus testStatus(int id) const { return testStatus_.at(id); }
    UploadAlert alert() const { return alert_; }

    const SuiteConfiguration& configuration() const { return configuration_; }
    GroupBox* groupBox() const { return groupBox_; }
    QWidget* markRow() const { return markRow_; }
    QPushButton* runButton() const { return runButton_; }
    QLabel* markLabel() const { return markLabel_; }
    QLabel* markText() const { return markText_; }
    const std::vector<TestRow*>& testRows() const { return testRows_; }
    AlertPresenter* alertPresenter() const { return alertPresenter_; }

signals:
    // Row states were written and the panel redrawn (main thread). One
    // signal per write step: a suite's queueing of all its rows is one step.
    void testStatusChanged();

private:
    void runSuiteInBackground();
    void uploadInBackground();
    void uploadFinished(bool uploaded);

    // Any thread: sets the entries at ids to status, on the main thread.
    void writeTestStatus(std::vector<int> ids, TestStatus status);

    TestState& testState_;
    const SuiteConfiguration& configuration_;
    std::vector<TestStatus> testStatus_;
    UploadAlert alert_ = UploadAlert::confirm;
    // Made on the main thread; copied by work items so that their hand-backs
    // skip a panel that no longer exists.
    QPointer<SuiteView> self_;

    GroupBox* groupBox_;
    QWidget* markRow_;
    QPushButton* runButton_;
    QLabel* markLabel_;
    QLabel* markText_;
    std::vector<TestRow*> testRows_;
    AlertPresenter* alertPresenter_;
};

// The CPU tests, ids 0 to 8.
class CpuView : public SuiteView {
    Q_OBJECT
public:
    explicit CpuView(TestState& testState, QWidget* parent = nullptr);
};

// The memory tests, ids 9 to 15.
class MemoryView : public SuiteView {
    Q_OBJECT
public:
    explicit MemoryView(TestState& testState, QWidget* parent = nullptr);
};
