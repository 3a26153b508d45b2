// The window as it starts: the shared state, what every panel shows, the
// bar's controls, the artwork, the "-debug" switch, and the bar's refusal to
// upload incomplete results.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "environment.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "suite_view.h"
#include "test_row.h"
#include "results/deployment.h"
#include "widgets.h"
#include "window_test_support.h"

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void stateStartsClearedWithTheEngineCreated();
    void windowShowsEngineTextsAndIdleControls();
    void rowsShowTheEngineTextForAResultOfZero();
    void artworkIsFoundByName();
    void benchmarkWebsiteOpensTheHomePage();
    void uploadWithIncompleteResultsIsRefusedAndWritesNothing();
    void unsupportedSystemShowsUploadDisabledAndNeverPrompts();
    void debugSwitchTurnsLoggingOnOnlyAfterCreation();
    void onlyAnExactDebugArgumentCounts();
};

void StartupTest::stateStartsClearedWithTheEngineCreated() {
    TestState state(QStringList{QStringLiteral("velocitrix")}, &createShortBaseline);
    QVERIFY(state.baseline != nullptr);
    QCOMPARE(state.disableButtons(), false);
    QCOMPARE(state.resultsComplete(), false);
    QCOMPARE(state.CpuComplete(), false);
    QCOMPARE(state.MemComplete(), false);
    QCOMPARE(state.resultsUploaded(), UploadStatus::waiting);
    QCOMPARE(state.uploadEnabled(), isSupportedSystem(state.baseline));
    // This machine is a supported one: the processor is named and the
    // process runs natively.
    QVERIFY(state.uploadEnabled());
}

void StartupTest::windowShowsEngineTextsAndIdleControls() {
    TestState state(QStringList{QStringLiteral("velocitrix")}, &createShortBaseline);
    ContentView window(state);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.title()->text(), QStringLiteral("Velocitrix CPU Suite"));
    const QString info = takeEngineText(getSystemInfoText(state.baseline));
    QVERIFY(info.startsWith(QStringLiteral("Model: ")));
    QCOMPARE(window.systemInfoView()->infoText()->text(), info);
    QCOMPARE(window.systemInfoView()->infoText()->text().count(QLatin1Char('\n')), 2);
    QCOMPARE(window.systemInfoView()->groupBox()->label(), QStringLiteral("System Information"));
    QCOMPARE(window.cpuView()->groupBox()->label(), QStringLiteral("CPU Test Suite"));
    QCOMPARE(window.memoryView()->groupBox()->label(), QStringLiteral("Memory Test Suite"));

    // The system panel keeps its ideal size when the window grows.
    const QSize infoSize = window.systemInfoView()->size();
    window.resize(window.width() + 300, window.height() + 200);
    QTest::qWait(50);
    QCOMPARE(window.systemInfoView()->size(), infoSize);

    QCOMPARE(window.cpuView()->markText()->text(), QStringLiteral("Incomplete"));
    QCOMPARE(window.memoryView()->markText()->text(), QStringLiteral("Incomplete"));
    QVERIFY(!anyRunButtonDisabled(window));
    QCOMPARE(runButtons(window).size(), 2 + 9 + 7);

    QVERIFY(window.websiteButton()->isVisible());
    QVERIFY(window.websiteButton()->isEnabled());
    QCOMPARE(window.websiteButton()->text(), QStringLiteral("Benchmark Website"));
    QVERIFY(window.uploadResultsButton()->isVisible());
    QVERIFY(window.uploadResultsButton()->isEnabled());
    QCOMPARE(window.uploadResultsButton()->text(), QStringLiteral("Upload Results"));
    QVERIFY(!window.uploadDisabledButton()->isVisible());
    QVERIFY(!window.uploadingIndicator()->isVisible());
    QVERIFY(!window.viewResultsButton()->isVisible());
    QVERIFY(presentedAlert(window.alertPresenter()) == nullptr);
}

void StartupTest::rowsShowTheEngineTextForAResultOfZero() {
    TestState state(QStringList{QStringLiteral("velocitrix")}, &createShortBaseline);
    ContentView window(state);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QStringList names{
        "Integer Math", "Floating Point Math", "Prime Numbers", "Sorting", "Encryption",
        "Compression", "CPU Single Thread", "Physics", "Extended Instructions (NEON)",
        "Database Operations", "Memory Read Cached", "Memory Read Uncached", "Memory Write",
        "Available RAM", "Memory Latency", "Memory Threaded"};
    const QStringList zeroTexts{
        "0.0 Million Operations/s", "0.0 Million Operations/s", "0.0 Million Primes/s",
        "0.0 Thousand Strings/s", "0.0 MB/s", "0.0 KB/s", "0.0 Million Operations/s",
        "0.0 Frames/s", "0.0 Million Matrices/s", "0.0 Thousand Operations/s", "0.0 MB/s",
        "0.0 MB/s", "0.0 MB/s", "0 Megabytes", "0 Nanoseconds", "0.0 MB/s"};

    QStringList shownNames;
    QList<int> ids;
    for (const SuiteView* panel : {static_cast<const SuiteView*>(window.cpuView()),
                                   static_cast<const SuiteView*>(window.memoryView())}) {
        for (const TestRow* row : panel->testRows()) {
            shownNames << row->name();
            ids << row->index();
            QCOMPARE(panel->testStatus(row->index()), TestStatus::not_run);
            QVERIFY(!row->spinner()->isVisible());
        }
    }
    QCOMPARE(shownNames, names);
    QCOMPARE(ids, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    QCOMPARE(cellTexts(window), zeroTexts);
}

void StartupTest::artworkIsFoundByName() {
    for (const char* name : {"vx_headerlogo512", "Orvelle-Logo"})
        QVERIFY2(!bundleImage(QString::fromLatin1(name)).isNull(), name);
    for (const char* name : {"macmini", "cpu", "memorychip"})
        QVERIFY2(!systemSymbol(QString::fromLatin1(name)).isNull(), name);
    QVERIFY(bundleImage(QStringLiteral("no-such-image")).isNull());
}

void StartupTest::benchmarkWebsiteOpensTheHomePage() {
    TestState state(QStringList{QStringLiteral("velocitrix")}, &createShortBaseline);
    ContentView window(state);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    UrlCatcher browser;

    QTest::mouseClick(window.websiteButton(), Qt::LeftButton);
    QCOMPARE(browser.opened.size(), 1);
    const QUrl home = browser.opened.first();
    QCOMPARE(home, QUrl(QString::fromUtf8(resultsWebsiteHomePage())));
    QCOMPARE(home.scheme(), QStringLiteral("https"));
    QVERIFY(!home.host().isEmpty());
    QVERIFY(home.path().isEmpty() || home.path() == QStringLiteral("/"));
    QCOMPARE(state.resultsUploaded(), UploadStatus::waiting);
}

void StartupTest::uploadWithIncompleteResultsIsRefusedAndWritesNothing() {
    ScratchHome home;
    TestState state(QStringList{QStringLiteral("velocitrix")}, &createShortBaseline);
    ContentView window(state);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTest::mouseClick(window.uploadResultsButton(), Qt::LeftButton);
    QMessageBox* box = presentedAlert(window.alertPresenter());
    QVERIFY(box != nullptr);
    QCOMPARE(box->text(), QStringLiteral("Tests Incomplete"));
    QCOMPARE(box->informativeText(), QStringLiteral("All tests must be run before uploading results"));
    QCOMPARE(alertButtonLabels(box), QStringList{QStringLiteral("OK")});
    QCOMPARE(box->buttonRole(alertButtons(box).first()), QMessageBox::AcceptRole);

    // The refusal happens within the press: nothing runs, nothing is written.
    QCOMPARE(state.disableButtons(), false);
    QCOMPARE(state.resultsUploaded(), UploadStatus::waiting);
    QVERIFY(window.uploadResultsButton()->isVisible());
    QVERIFY(!window.uploadingIndicator()->isVisible());
    QTest::qWait(200);
    QCOMPARE(filesIn(home.path()), QStringList{});

    QVERIFY(pressAlertButton(box, QStringLiteral("OK")));
    QVERIFY(waitUntil([&] { return presentedAlert(window.alertPresenter()) == nullptr; }, 2000));
    QCOMPARE(window.alertPresenter()->showAlert(), false);
    QCOMPARE(state.resultsUploaded(), UploadStatus::waiting);
    QVERIFY(window.uploadResultsButton()->isVisible());
    QVERIFY(window.uploadResultsButton()->isEnabled());
    QCOMPARE(filesIn(home.path()), QStringList{});
}

void StartupTest::unsupportedSystemShowsUploadDisabledAndNeverPrompts() {
    ScratchHome home;
    TestState state(QStringList{QStringLiteral("velocitrix")}, &createUnsupportedBaseline);
    QCOMPARE(state.uploadEnabled(), false);
    ContentView window(state);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QVERIFY(window.uploadDisabledButton()->isVisible());
    QVERIFY(!window.uploadDisabledButton()->isEnabled());
    QCOMPARE(window.uploadDisabledButton()->text(), QStringLiteral("Upload Disabled"));
    QVERIFY(!window.uploadResultsButton()->isVisible());
    QTest::mouseClick(window.uploadDisabledButton(), Qt::LeftButton);
    QVERIFY(presentedAlert(window.alertPresenter()) == nullptr);

    // Complete results at the end of a suite raise no prompt either.
    presetCompleteResults(state.baseline);
    window.memoryView()->suiteFinished();
    window.cpuView()->suiteFinished();
    QCOMPARE(state.resultsComplete(), true);
    QTest::qWait(100);
    QVERIFY(presentedAlert(window.memoryView()->alertPresenter()) == nullptr);
    QVERIFY(presentedAlert(window.cpuView()->alertPresenter()) == nullptr);
    QCOMPARE(window.memoryView()->alertPresenter()->showAlert(), false);
    QVERIFY(window.uploadDisabledButton()->isVisible());
    QCOMPARE(state.uploadEnabled(), false);
    QCOMPARE(filesIn(home.path()), QStringList{});
}

// With "-debug" the log is on for what follows start-up, but creation itself
// (version and detection lines) is never logged.
void StartupTest::debugSwitchTurnsLoggingOnOnlyAfterCreation() {
    QTemporaryDir workDir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
    const QString log = QDir(workDir.path()).filePath(QStringLiteral("debug.log"));

    // Control: creation does log when the switch is on before it.
    setDebugLogging(true);
    createShortBaseline();
    QFile before(log);
    QVERIFY(before.open(QIODevice::ReadOnly));
    QVERIFY(before.readAll().contains("Velocitrix Version: 10.2.1000"));
    before.close();
    QVERIFY(QFile::remove(log));
    setDebugLogging(false);

    TestState state(QStringList{QStringLiteral("velocitrix"), QStringLiteral("-x"),
                                QStringLiteral("-debug")},
                    &createShortBaseline);
    QCOMPARE(debugLogging, std::uint8_t{1});
    QFile after(log);
    if (after.open(QIODevice::ReadOnly))
        QVERIFY(!after.readAll().contains("Velocitrix Version"));

    setDebugLogging(false);
    QVERIFY(QDir::setCurrent(previous));
}

void StartupTest::onlyAnExactDebugArgumentCounts() {
    const QList<QStringList> ignored{
        {"velocitrix"},
        {"velocitrix", "--debug"},
        {"velocitrix", "-Debug"},
        {"velocitrix", "-DEBUG"},
        {"velocitrix", "-debug=1"},
        {"velocitrix", "debug"},
        {"velocitrix", "-debug "},
    };
    for (const QStringList& arguments : ignored) {
        setDebugLogging(false);
        TestState state(arguments, &createShortBaseline);
        QVERIFY2(debugLogging == 0, qPrintable(arguments.join(QLatin1Char(' '))));
    }

    const QList<QStringList> accepted{
        {"velocitrix", "-debug"},
        {"-debug"},  // the program path itself is walked too
        {"velocitrix", "-debug", "-debug"},
        {"velocitrix", "extra", "-debug", "more"},
    };
    for (const QStringList& arguments : accepted) {
        setDebugLogging(false);
        TestState state(arguments, &createShortBaseline);
        QVERIFY2(debugLogging == 1, qPrintable(arguments.join(QLatin1Char(' '))));
    }
    setDebugLogging(false);
}

VX_WINDOW_TEST_MAIN(StartupTest)
#include "startup_test.moc"
