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
    void contentViewShowsItsFixedTextsAndSizes();
    void suitePanelsShowTheirFixedTextsAndSizes();
    void testRowShowsItsFixedTextsAndSizes();
    void windowShowsTheEngineTextsAndIdleControls();
    void artworkIsFoundByName();
    void benchmarkWebsiteOpensTheHomePage();
    void uploadWithIncompleteResultsIsRefusedAndWritesNothing();
    void unsupportedSystemShowsUploadDisabled();
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

namespace {
const QString kOkAlert = QStringLiteral("[OK*^:standard]");
const QString kFailedAlert =
    QStringLiteral("Upload Failed | Check network connection and try again | ") + kOkAlert;
const QString kSuccessAlert = QStringLiteral(
    "Upload Successful | Your results have been succesfully uploaded | "
    "[View Results Online*:standard] [Dismiss^:cancel]");
}  // namespace

// Every text and size of the header, the system information panel, the
// button bar and the bar's alerts, over a record whose profile fields all
// differ.
void StartupTest::contentViewShowsItsFixedTextsAndSizes() {
    WindowScene scene(&createFixtureBaseline);
    QVERIFY(scene.shown());
    ContentView& w = scene.window;

    const QString table = mismatches({
        {"header logo", w.headerLogo()->objectName(), "vx_headerlogo512"},
        {"header logo drawn", !w.headerLogo()->pixmap().isNull(), true},
        {"header logo frame", fixedSize(w.headerLogo()), QSize(-1, 50)},
        {"title", w.title()->text(), "Velocitrix CPU Suite"},
        {"gap after the title", fixedSize(w.headerGap()), QSize(220, -1)},
        {"maker logo", w.makerLogo()->objectName(), "Orvelle-Logo"},
        {"maker logo drawn", !w.makerLogo()->pixmap().isNull(), true},
        {"maker logo frame", fixedSize(w.makerLogo()), QSize(-1, 50)},
        {"system panel label", w.systemInfoView()->groupBox()->label(), "System Information"},
        {"system panel symbol", w.systemInfoView()->groupBox()->symbol(), "macmini"},
        {"system information", w.systemInfoView()->infoText()->text(), kFixtureSystemInfo},
        {"website button", w.websiteButton()->text(), "Benchmark Website"},
        {"upload button", w.uploadResultsButton()->text(), "Upload Results"},
        {"upload disabled button", w.uploadDisabledButton()->text(), "Upload Disabled"},
        {"view results button", w.viewResultsButton()->text(), "View Results Online"},
        {"uploading text", w.uploadingText()->text(), "Uploading: "},
        {"uploading spinner frame", frameOf(w.uploadingSpinner()), QSize(258, 10)},
        {"uploading spinner scale", w.uploadingSpinner()->scale(), 0.75},
        {"incomplete alert", describe(w.uploadAlert(UploadAlert::confirm)),
         QStringLiteral("Tests Incomplete | All tests must be run before uploading results | ") + kOkAlert},
        {"failed alert", describe(w.uploadAlert(UploadAlert::failed)), kFailedAlert},
        {"success alert", describe(w.uploadAlert(UploadAlert::success)), kSuccessAlert},
    });
    QVERIFY2(table.isEmpty(), qPrintable(table));
}

// The twin panels, each against its own column: label, symbol, mark row,
// rows, alerts. The two marks and the two flags differ, so a panel that
// shows the other's mark or reads the other's flag fails.
void StartupTest::suitePanelsShowTheirFixedTextsAndSizes() {
    struct Twin {
        SuiteView* panel;
        QString tag, label, symbol, markLabel, markOnItsFlag;
        int entries;
        QStringList rows;  // "name #id"
    };
    WindowScene scene(&createFixtureBaseline);
    presetCompleteResults(scene.state.baseline);  // marks 4321 and 2345
    QVERIFY(scene.shown());
    const QList<Twin> twins{
        {scene.window.cpuView(), "CPU", "CPU Test Suite", "cpu", "CPU Mark", "4321", 9,
         {"Integer Math #0", "Floating Point Math #1", "Prime Numbers #2", "Sorting #3", "Encryption #4",
          "Compression #5", "CPU Single Thread #6", "Physics #7", "Extended Instructions (NEON) #8"}},
        {scene.window.memoryView(), "Memory", "Memory Test Suite", "memorychip", "Memory Mark", "2345", 16,
         {"Database Operations #9", "Memory Read Cached #10", "Memory Read Uncached #11", "Memory Write #12",
          "Available RAM #13", "Memory Latency #14", "Memory Threaded #15"}},
    };

    // The mark column under each flag alone: [CPU flag only, memory flag only].
    QStringList markShown[2];
    for (bool cpuFlag : {true, false}) {
        scene.state.setCpuComplete(cpuFlag);
        scene.state.setMemComplete(!cpuFlag);
        for (int t = 0; t < 2; ++t)
            markShown[t] << twins[t].panel->markText()->text();
    }

    QList<Expected> table;
    for (int t = 0; t < 2; ++t) {
        const Twin& twin = twins[t];
        SuiteView* p = twin.panel;
        const auto line = [&](const char* what, const QVariant& shown, const QVariant& expected) {
            table << Expected{twin.tag + QLatin1Char(' ') + QLatin1String(what), shown, expected};
        };
        line("label", p->groupBox()->label(), twin.label);
        line("symbol", p->groupBox()->symbol(), twin.symbol);
        line("row state entries", p->configuration().statusEntries, twin.entries);
        line("run", p->runButton()->text(), "Run");
        line("run frame", frameOf(p->runButton()), QSize(80, -1));
        line("mark label", p->markLabel()->text(), twin.markLabel);
        line("mark label frame", frameOf(p->markLabel()), QSize(300, -1));
        line("mark label bold", p->markLabel()->font().bold(), true);
        line("mark frame", frameOf(p->markText()), QSize(250, -1));
        line("mark bold", p->markText()->font().bold(), true);
        line("mark row height", fixedSize(p->markRow()), QSize(-1, 20));
        line("mark, CPU flag only", markShown[t].at(0), t == 0 ? twin.markOnItsFlag : QStringLiteral("Incomplete"));
        line("mark, memory flag only", markShown[t].at(1), t == 1 ? twin.markOnItsFlag : QStringLiteral("Incomplete"));
        QStringList rows;
        for (const TestRow* row : p->testRows()) {
            rows << QStringLiteral("%1 #%2").arg(row->name()).arg(row->index());
            line("row height", fixedSize(row), QSize(-1, 20));
        }
        line("rows", rows.join(QStringLiteral(", ")), twin.rows.join(QStringLiteral(", ")));
        line("prompt", describe(p->uploadAlert(UploadAlert::confirm)),
             "Upload Results | Benchmark will be uploaded to Chipledger | [Yes*:destructive] [No^:cancel]");
        line("failed alert", describe(p->uploadAlert(UploadAlert::failed)), kFailedAlert);
        line("success alert", describe(p->uploadAlert(UploadAlert::success)), kSuccessAlert);
    }
    const QString report = mismatches(table);
    QVERIFY2(report.isEmpty(), qPrintable(report));
}

// One row through its four states: the cells, their frames and the texts.
void StartupTest::testRowShowsItsFixedTextsAndSizes() {
    WindowScene scene(&createFixtureBaseline);
    presetCompleteResults(scene.state.baseline);  // result 14: 240 Nanoseconds
    TestStatus status = TestStatus::not_run;
    TestRow row(scene.state, QStringLiteral("Memory Latency"), 14,
                Binding<TestStatus>{[&] { return status; }, [&](TestStatus value) { status = value; }});
    row.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row));

    QStringList cells;
    for (TestStatus shown : {TestStatus::not_run, TestStatus::queued, TestStatus::running, TestStatus::complete}) {
        status = shown;
        row.redraw();
        cells << cellText(&row);
    }
    const QString table = mismatches({
        {"run", row.runButton()->text(), "Run"},
        {"run frame", frameOf(row.runButton()), QSize(80, -1)},
        {"name", row.nameText()->text(), "Memory Latency"},
        {"name frame", frameOf(row.nameText()), QSize(300, -1)},
        {"status text frame", frameOf(row.statusText()), QSize(250, -1)},
        {"spinner frame", frameOf(row.spinner()), QSize(258, 10)},
        {"spinner scale", row.spinner()->scale(), 0.75},
        {"cells not run / queued / running / complete", cells.join(QStringLiteral(" / ")),
         "240 Nanoseconds / Queued / <spinner> / 240 Nanoseconds"},
    });
    QVERIFY2(table.isEmpty(), qPrintable(table));
}

// The real record as the window shows it, idle, before and after results.
void StartupTest::windowShowsTheEngineTextsAndIdleControls() {
    WindowScene scene;
    QVERIFY(scene.shown());
    ContentView& window = scene.window;

    // The real record's text, verbatim, every line of it.
    const QString info = takeEngineText(getSystemInfoText(scene.state.baseline));
    QVERIFY(info.startsWith(QStringLiteral("Model: ")));
    QCOMPARE(window.systemInfoView()->infoText()->text(), info);
    QCOMPARE(window.systemInfoView()->infoText()->text().count(QLatin1Char('\n')), 2);

    // The system panel keeps its ideal size when the window grows.
    const QSize infoSize = window.systemInfoView()->size();
    window.resize(window.width() + 300, window.height() + 200);
    QTest::qWait(50);
    QCOMPARE(window.systemInfoView()->size(), infoSize);

    QVERIFY(!anyRunButtonDisabled(window));
    QCOMPARE(runButtons(window).size(), 2 + 9 + 7);

    QCOMPARE(barShows(window), QStringLiteral("website upload"));
    QVERIFY(presentedAlert(window.alertPresenter()) == nullptr);

    // Each row shows the engine's text for its own id: first for a result of
    // 0, then for sixteen figures that all differ.
    for (const SuiteView* panel : {static_cast<const SuiteView*>(window.cpuView()),
                                   static_cast<const SuiteView*>(window.memoryView())}) {
        for (const TestRow* row : panel->testRows())
            QCOMPARE(panel->testStatus(row->index()), TestStatus::not_run);
    }
    QCOMPARE(cellTexts(window),
             (QStringList{"0.0 Million Operations/s", "0.0 Million Operations/s", "0.0 Million Primes/s",
                          "0.0 Thousand Strings/s", "0.0 MB/s", "0.0 KB/s", "0.0 Million Operations/s",
                          "0.0 Frames/s", "0.0 Million Matrices/s", "0.0 Thousand Operations/s", "0.0 MB/s",
                          "0.0 MB/s", "0.0 MB/s", "0 Megabytes", "0 Nanoseconds", "0.0 MB/s"}));

    presetCompleteResults(scene.state.baseline);
    window.cpuView()->redraw();
    window.memoryView()->redraw();
    QCOMPARE(cellTexts(window),
             (QStringList{"100 Million Operations/s", "110 Million Operations/s", "120 Million Primes/s",
                          "130 Thousand Strings/s", "140 MB/s", "150 KB/s", "160 Million Operations/s",
                          "170 Frames/s", "180 Million Matrices/s", "190 Thousand Operations/s", "200 MB/s",
                          "210 MB/s", "220 MB/s", "230 Megabytes", "240 Nanoseconds", "250 MB/s"}));
}

void StartupTest::artworkIsFoundByName() {
    for (const char* name : {"vx_headerlogo512", "Orvelle-Logo"})
        QVERIFY2(!bundleImage(QString::fromLatin1(name)).isNull(), name);
    for (const char* name : {"macmini", "cpu", "memorychip"})
        QVERIFY2(!systemSymbol(QString::fromLatin1(name)).isNull(), name);
    QVERIFY(bundleImage(QStringLiteral("no-such-image")).isNull());
}

void StartupTest::benchmarkWebsiteOpensTheHomePage() {
    WindowScene scene;
    QVERIFY(scene.shown());
    QTest::mouseClick(scene.window.websiteButton(), Qt::LeftButton);
    QCOMPARE(scene.browser.opened.size(), 1);
    const QUrl home = scene.browser.opened.first();
    QCOMPARE(home, QUrl(QString::fromUtf8(resultsWebsiteHomePage())));
    QCOMPARE(home.scheme(), QStringLiteral("https"));
    QVERIFY(!home.host().isEmpty());
    QVERIFY(home.path().isEmpty() || home.path() == QStringLiteral("/"));
    QCOMPARE(scene.state.resultsUploaded(), UploadStatus::waiting);
}

void StartupTest::uploadWithIncompleteResultsIsRefusedAndWritesNothing() {
    WindowScene scene;
    QVERIFY(scene.shown());
    ContentView& window = scene.window;
    // Fifteen of sixteen results: one missing is enough to refuse.
    presetCompleteResults(scene.state.baseline);
    scene.state.baseline->results[15] = 0.0;
    scene.window.memoryView()->suiteFinished();
    QCOMPARE(scene.state.resultsComplete(), false);

    QTest::mouseClick(window.uploadResultsButton(), Qt::LeftButton);
    QMessageBox* box = presentedAlert(window.alertPresenter());
    QVERIFY(box != nullptr);
    QCOMPARE(describe(box), describe(window.uploadAlert(UploadAlert::confirm)));

    // The refusal happens within the press: nothing runs, nothing is written.
    QCOMPARE(scene.state.disableButtons(), false);
    QCOMPARE(scene.state.resultsUploaded(), UploadStatus::waiting);
    QCOMPARE(barShows(window), QStringLiteral("website upload"));
    waitForWorkInFlight();
    QCOMPARE(filesIn(scene.home.path()), QStringList{});

    QVERIFY(pressAlertButton(box, QStringLiteral("OK")));
    QVERIFY(waitUntil([&] { return presentedAlert(window.alertPresenter()) == nullptr; }, 2000));
    QCOMPARE(window.alertPresenter()->showAlert(), false);
    QCOMPARE(scene.state.resultsUploaded(), UploadStatus::waiting);
    QCOMPARE(barShows(window), QStringLiteral("website upload"));
    QCOMPARE(filesIn(scene.home.path()), QStringList{});
}

// The bar offers nothing to press; the panels' prompt is refused too
// (UploadTest::promptOnlyForCompleteEnabledNotYetUploadedResults).
void StartupTest::unsupportedSystemShowsUploadDisabled() {
    WindowScene scene(&createUnsupportedBaseline);
    QCOMPARE(scene.state.uploadEnabled(), false);
    QVERIFY(scene.shown());
    ContentView& window = scene.window;

    QCOMPARE(barShows(window), QStringLiteral("website upload-disabled(off)"));
    QTest::mouseClick(window.uploadDisabledButton(), Qt::LeftButton);
    QVERIFY(presentedAlert(window.alertPresenter()) == nullptr);

    // Complete results change nothing in the bar.
    presetCompleteResults(scene.state.baseline);
    window.memoryView()->suiteFinished();
    QCOMPARE(scene.state.resultsComplete(), true);
    QCOMPARE(barShows(window), QStringLiteral("website upload-disabled(off)"));
    waitForWorkInFlight();
    QCOMPARE(filesIn(scene.home.path()), QStringList{});
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
    const QList<std::pair<QStringList, int>> cases{
        {{"velocitrix"}, 0},
        {{"velocitrix", "--debug"}, 0},
        {{"velocitrix", "-Debug"}, 0},
        {{"velocitrix", "-DEBUG"}, 0},
        {{"velocitrix", "-debug=1"}, 0},
        {{"velocitrix", "debug"}, 0},
        {{"velocitrix", "-debug "}, 0},
        {{"velocitrix", "-debug"}, 1},
        {{"-debug"}, 1},  // the program path itself is walked too
        {{"velocitrix", "-debug", "-debug"}, 1},
        {{"velocitrix", "extra", "-debug", "more"}, 1},
    };
    for (const auto& [arguments, logging] : cases) {
        setDebugLogging(false);
        TestState state(arguments, &createShortBaseline);
        QVERIFY2(debugLogging == logging, qPrintable(arguments.join(QLatin1Char(' '))));
    }
    setDebugLogging(false);
}

VX_WINDOW_TEST_MAIN(StartupTest)
#include "startup_test.moc"
