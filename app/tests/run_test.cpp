// Runs through the window as a user would, with every test shortened to
// one second: one row on its own, then the CPU suite and the memory suite
// (each row queued, then running, then showing its result, in order), the
// upload prompt they end with, and "No". One window serves the whole
// sequence, so the slots below run in order and build on each other.

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "environment.h"
#include "state/baseline.h"
#include "suite_view.h"
#include "test_row.h"
#include "window_test_support.h"

#ifndef VX_ARTIFACT_DIR
#define VX_ARTIFACT_DIR "."
#endif

namespace {

// A full suite at one second per test stays well below this.
constexpr int kSuiteTimeoutMs = 150000;
constexpr int kSingleTestTimeoutMs = 30000;

// What the window looked like at one row-state write of a suite run.
struct Snapshot {
    QStringList cells;       // all sixteen status cells, by test id
    bool anyRunEnabled;      // any "Run" of either panel or any row
    bool uploadEnabled;      // the bar's "Upload Results"
    bool websiteEnabled;     // "Benchmark Website"
};

const QString kSpinner = QStringLiteral("<spinner>");
const QString kQueued = QStringLiteral("Queued");

}  // namespace

class RunTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void singleRowRunsAloneAndRereadsBothFlags();
    void cpuSuiteQueuesAllRowsThenRunsEachInOrder();
    void memorySuiteCompletesTheResultsAndPrompts();
    void answeringNoChangesNothing();
    void cleanupTestCase();

private:
    // Runs one suite through its "Run" button and records every row-state
    // write of both panels; returns false on a time-out.
    bool runSuiteRecording(SuiteView* panel, QList<Snapshot>& snapshots, int& otherPanelWrites);
    // Checks the recorded writes of one suite: first all its rows queued at
    // once, then each row running and then complete, in id order; the other
    // panel's cells never change; every "Run" disabled throughout.
    void checkSuiteSequence(const QList<Snapshot>& snapshots, const QList<int>& suiteIds,
                            const QStringList& before);

    // The window of the sequence; its end waits for any run still going.
    std::unique_ptr<WindowScene> scene_;
};

void RunTest::initTestCase() {
    scene_ = std::make_unique<WindowScene>();
    QVERIFY(scene_->shown());
}

void RunTest::cleanupTestCase() {
    scene_.reset();
}

// A row's "Run": only that row shows the spinner, every "Run" and "Upload
// Results" are disabled until the test ends, then the row shows the result
// and both completion flags are read again, whichever suite the row is in.
void RunTest::singleRowRunsAloneAndRereadsBothFlags() {
    // A separate record and window with every other result present, so that
    // the one run completes the memory suite and all sixteen results.
    WindowScene scene;
    TestState& state = scene.state;
    ContentView& window = scene.window;
    presetCompleteResults(state.baseline);
    state.baseline->results[10] = 0.0;
    state.baseline->memoryMark = 0.0;
    window.cpuView()->redraw();
    window.memoryView()->redraw();
    QVERIFY(scene.shown());
    QCOMPARE(state.CpuComplete(), false);  // not read since start

    TestRow* row = window.memoryView()->testRows().at(1);
    QCOMPARE(row->index(), 10);
    QCOMPARE(row->name(), QStringLiteral("Memory Read Cached"));
    const QStringList before = cellTexts(window);
    QCOMPARE(before.at(10), QStringLiteral("0.0 MB/s"));

    QTest::mouseClick(row->runButton(), Qt::LeftButton);
    const QStringList during = cellTexts(window);
    QCOMPARE(during.at(10), kSpinner);
    for (int id = 0; id < 16; ++id) {
        if (id != 10)
            QCOMPARE(during.at(id), before.at(id));
    }
    QCOMPARE(window.memoryView()->testStatus(10), TestStatus::running);
    QVERIFY(!anyRunButtonEnabled(window));
    QCOMPARE(barShows(window), QStringLiteral("website upload(off)"));
    QCOMPARE(state.disableButtons(), true);

    QVERIFY(waitUntil([&] { return !state.disableButtons(); }, kSingleTestTimeoutMs));

    QCOMPARE(window.memoryView()->testStatus(10), TestStatus::complete);
    const QString result = takeEngineText(getResultText(state.baseline, 10));
    QVERIFY2(result != QStringLiteral("0.0 MB/s"), "the test produced no figure");
    QVERIFY(result.endsWith(QStringLiteral(" MB/s")));
    QCOMPARE(cellText(row), result);
    QVERIFY(!anyRunButtonDisabled(window));
    QCOMPARE(barShows(window), QStringLiteral("website upload"));

    QCOMPARE(state.MemComplete(), true);
    QCOMPARE(state.CpuComplete(), true);  // re-read although the row is a memory test
    QCOMPARE(state.resultsComplete(), true);
    QCOMPARE(window.cpuView()->markText()->text(), QStringLiteral("4321"));
    QCOMPARE(window.memoryView()->markText()->text(),
             takeEngineText(getMemoryMarkText(state.baseline)));
    QVERIFY(window.memoryView()->markText()->text() != QStringLiteral("Incomplete"));

    // A single row raises no upload prompt, even when it completes the set.
    QTest::qWait(100);
    QVERIFY(presentedAlert(window.memoryView()->alertPresenter()) == nullptr);
    QVERIFY(presentedAlert(window.alertPresenter()) == nullptr);
    QCOMPARE(state.resultsUploaded(), UploadStatus::waiting);
}

bool RunTest::runSuiteRecording(SuiteView* panel, QList<Snapshot>& snapshots, int& otherPanelWrites) {
    SuiteView* other = panel == scene_->window.cpuView() ? static_cast<SuiteView*>(scene_->window.memoryView())
                                                   : static_cast<SuiteView*>(scene_->window.cpuView());
    QMetaObject::Connection recorder = connect(panel, &SuiteView::testStatusChanged, this, [&] {
        snapshots << Snapshot{cellTexts(scene_->window), anyRunButtonEnabled(scene_->window),
                              scene_->window.uploadResultsButton()->isEnabled(),
                              scene_->window.websiteButton()->isEnabled()};
    });
    QMetaObject::Connection watcher =
        connect(other, &SuiteView::testStatusChanged, this, [&] { ++otherPanelWrites; });

    QTest::mouseClick(panel->runButton(), Qt::LeftButton);
    const bool started = scene_->state.disableButtons();
    const bool finished = waitUntil([&] { return !scene_->state.disableButtons(); }, kSuiteTimeoutMs);
    disconnect(recorder);
    disconnect(watcher);
    return started && finished;
}

void RunTest::checkSuiteSequence(const QList<Snapshot>& snapshots, const QList<int>& suiteIds,
                                 const QStringList& before) {
    const int n = suiteIds.size();
    QCOMPARE(snapshots.size(), 1 + 2 * n);

    // Every write happened with every "Run" and "Upload Results" disabled.
    for (const Snapshot& shot : snapshots) {
        QVERIFY(!shot.anyRunEnabled);
        QVERIFY(!shot.uploadEnabled);
        QVERIFY(shot.websiteEnabled);
    }

    // The other panel's cells never change.
    for (const Snapshot& shot : snapshots) {
        for (int id = 0; id < 16; ++id) {
            if (!suiteIds.contains(id))
                QCOMPARE(shot.cells.at(id), before.at(id));
        }
    }

    // All rows queued in one step.
    for (int id : suiteIds)
        QCOMPARE(snapshots.at(0).cells.at(id), kQueued);

    // Then each row runs and completes in turn; rows before it show results,
    // rows after it stay queued.
    for (int i = 0; i < n; ++i) {
        const Snapshot& running = snapshots.at(1 + 2 * i);
        const Snapshot& complete = snapshots.at(2 + 2 * i);
        for (int j = 0; j < n; ++j) {
            const QString atRun = running.cells.at(suiteIds[j]);
            const QString atEnd = complete.cells.at(suiteIds[j]);
            if (j < i) {
                QVERIFY(atRun != kQueued && atRun != kSpinner);
                QCOMPARE(atEnd, atRun);
            } else if (j == i) {
                QCOMPARE(atRun, kSpinner);
                QVERIFY(atEnd != kQueued && atEnd != kSpinner);
            } else {
                QCOMPARE(atRun, kQueued);
                QCOMPARE(atEnd, kQueued);
            }
        }
    }

    // Each result shown is the engine's final text for that test.
    const Snapshot& last = snapshots.last();
    for (int id : suiteIds)
        QCOMPARE(last.cells.at(id), takeEngineText(getResultText(scene_->state.baseline, id)));
}

void RunTest::cpuSuiteQueuesAllRowsThenRunsEachInOrder() {
    VX_SKIP_IF_FORKS_UNDER_SANITIZER();
    const QStringList before = cellTexts(scene_->window);
    QList<Snapshot> snapshots;
    int memoryWrites = 0;
    QVERIFY(runSuiteRecording(scene_->window.cpuView(), snapshots, memoryWrites));
    QCOMPARE(memoryWrites, 0);
    checkSuiteSequence(snapshots, {0, 1, 2, 3, 4, 5, 6, 7, 8}, before);

    for (int id = 0; id < 9; ++id)
        QVERIFY2(scene_->window.cpuView()->testStatus(id) == TestStatus::complete, qPrintable(QString::number(id)));
    QCOMPARE(cellTexts(scene_->window).mid(9), before.mid(9));
    QVERIFY(!anyRunButtonDisabled(scene_->window));
    QCOMPARE(barShows(scene_->window), QStringLiteral("website upload"));

    // Every CPU test produced a figure, so the CPU mark is shown.
    for (int id = 0; id < 9; ++id)
        QVERIFY2(scene_->state.baseline->results[id] > 0.0, qPrintable(QString::number(id)));
    QCOMPARE(scene_->state.CpuComplete(), true);
    QCOMPARE(scene_->state.MemComplete(), false);
    QCOMPARE(scene_->state.resultsComplete(), false);
    QCOMPARE(scene_->window.cpuView()->markText()->text(), takeEngineText(getCpuMarkText(scene_->state.baseline)));
    QCOMPARE(scene_->window.memoryView()->markText()->text(), QStringLiteral("Incomplete"));

    // Memory results are missing: no prompt.
    QTest::qWait(100);
    QVERIFY(presentedAlert(scene_->window.cpuView()->alertPresenter()) == nullptr);
}

void RunTest::memorySuiteCompletesTheResultsAndPrompts() {
    VX_SKIP_IF_FORKS_UNDER_SANITIZER();
    const QStringList before = cellTexts(scene_->window);
    QList<Snapshot> snapshots;
    int cpuWrites = 0;
    QVERIFY(runSuiteRecording(scene_->window.memoryView(), snapshots, cpuWrites));
    QCOMPARE(cpuWrites, 0);
    checkSuiteSequence(snapshots, {9, 10, 11, 12, 13, 14, 15}, before);

    for (int id = 9; id < 16; ++id)
        QVERIFY2(scene_->state.baseline->results[id] > 0.0, qPrintable(QString::number(id)));
    QCOMPARE(scene_->state.MemComplete(), true);
    QCOMPARE(scene_->state.resultsComplete(), true);
    QCOMPARE(scene_->window.memoryView()->markText()->text(),
             takeEngineText(getMemoryMarkText(scene_->state.baseline)));

    QMessageBox* box = presentedAlert(scene_->window.memoryView()->alertPresenter());
    QVERIFY(box != nullptr);
    QCOMPARE(describe(box), describe(scene_->window.memoryView()->uploadAlert(UploadAlert::confirm)));
    QVERIFY(presentedAlert(scene_->window.cpuView()->alertPresenter()) == nullptr);

    QDir().mkpath(QStringLiteral(VX_ARTIFACT_DIR));
    QVERIFY(box->grab().save(QStringLiteral(VX_ARTIFACT_DIR "/upload-prompt.png")));
}

void RunTest::answeringNoChangesNothing() {
    VX_SKIP_IF_FORKS_UNDER_SANITIZER();
    QMessageBox* box = presentedAlert(scene_->window.memoryView()->alertPresenter());
    QVERIFY(box != nullptr);
    const QStringList cells = cellTexts(scene_->window);
    QVERIFY(pressAlertButton(box, QStringLiteral("No")));
    QVERIFY(waitUntil([&] { return presentedAlert(scene_->window.memoryView()->alertPresenter()) == nullptr; }, 2000));
    QCOMPARE(scene_->window.memoryView()->alertPresenter()->showAlert(), false);

    QTest::qWait(200);
    QCOMPARE(scene_->state.resultsUploaded(), UploadStatus::waiting);
    QCOMPARE(scene_->state.resultsComplete(), true);  // the next complete suite asks again
    QCOMPARE(scene_->state.disableButtons(), false);
    QCOMPARE(barShows(scene_->window), QStringLiteral("website upload"));
    QCOMPARE(cellTexts(scene_->window), cells);
    QCOMPARE(filesIn(scene_->home.path()), QStringList{});
    QCOMPARE(scene_->browser.opened.size(), 0);

    // The window after a complete run, kept as a test artefact.
    QDir().mkpath(QStringLiteral(VX_ARTIFACT_DIR));
    QVERIFY(scene_->window.grab().save(QStringLiteral(VX_ARTIFACT_DIR "/window-after-complete-run.png")));
}

VX_WINDOW_TEST_MAIN(RunTest)
#include "run_test.moc"
