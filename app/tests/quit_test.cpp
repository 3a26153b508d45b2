// Quitting the application: the program itself runs in a child process
// (this executable started with "--child <case> -debug" in a directory of
// its own) and closes its window at a chosen moment; the test reads how and
// when the process ended, and from its debug log which tests it started.
//   idle    no run in progress: the program returns normally
//   queued  the terminating flag set before the CPU suite's "Run": the
//           process ends with status 0 at the check after queueing, before
//           the first test starts
//   suite   during the CPU suite's first test: the process ends with status
//           0 at the check after that test, without starting another
//   last    during the last test of a suite (one of two short memory tests,
//           built as the panels are): the suite finishes, then the program
//           returns normally
//   row     during a single-row test (Integer Math): the test finishes, then
//           the program returns normally
// and one end that is not a quit: offthread, a work item that writes the
// shared state, which only the main thread may write: the process aborts.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "app_delegate.h"
#include "content_view.h"
#include "dispatch.h"
#include "environment.h"
#include "suite_view.h"
#include "test_row.h"
#include "velocitrix_app.h"
#include "window_test_support.h"

namespace {

// What a child prints when app.run() returned, and the exit code it then
// uses; a process ended by the suite's check exits 0 without printing it.
constexpr int kReturnedExitCode = 42;

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

int runChild(int argc, char** argv, const QString& scenario) {
    VelocitrixApp app(argc, argv, &createShortBaseline);
    ContentView& window = app.window();
    bool closed = false;
    const auto closeWindow = [&] {
        if (closed)
            return;
        closed = true;
        say(QStringLiteral("closing %1").arg(QDateTime::currentMSecsSinceEpoch()));
        window.close();
    };

    TestRow* row = window.cpuView()->testRows().at(0);  // test 0
    SuiteConfiguration twoTests = memorySuite();
    twoTests.rows = {{"Memory Read Cached", 10}, {"Available RAM", 13}};
    SuiteView shortSuite(app.testState(), twoTests);
    if (scenario == QLatin1String("idle")) {
        QTimer::singleShot(100, &window, closeWindow);
    } else if (scenario == QLatin1String("queued")) {
        QTimer::singleShot(0, &window, [&] {
            AppDelegate delegate;
            delegate.applicationWillTerminate();
            say(QStringLiteral("closing %1").arg(QDateTime::currentMSecsSinceEpoch()));
            window.cpuView()->runButton()->click();
        });
    } else if (scenario == QLatin1String("suite")) {
        QObject::connect(window.cpuView(), &SuiteView::testStatusChanged, &window, [&] {
            if (window.cpuView()->testStatus(0) == TestStatus::running)
                closeWindow();
        });
        QTimer::singleShot(0, &window, [&] { window.cpuView()->runButton()->click(); });
    } else if (scenario == QLatin1String("last")) {
        QObject::connect(&shortSuite, &SuiteView::testStatusChanged, &window, [&] {
            if (shortSuite.testStatus(13) == TestStatus::running)
                closeWindow();
        });
        QTimer::singleShot(0, &window, [&] { shortSuite.runSuite(); });
    } else if (scenario == QLatin1String("offthread")) {
        DispatchQueue::global().async([&] { app.testState().setDisableButtons(true); });
        QTimer::singleShot(2000, &window, closeWindow);  // reached only when the write is let through
    } else if (scenario == QLatin1String("row")) {
        QTimer::singleShot(0, &window, [&] {
            row->runButton()->click();
            QTimer::singleShot(100, &window, closeWindow);
        });
    } else {
        return 2;
    }

    const int status = app.run();
    say(QStringLiteral("returned %1").arg(status));
    for (int id : {0, 13})
        say(QStringLiteral("result%1 %2").arg(id).arg(takeEngineText(getResultText(app.testState().baseline, id))));
    return kReturnedExitCode;
}

// A CPU test's first debug line, "Running CPU Test: <id> on <n> Thread(s)".
QString started(int id) {
    return QStringLiteral("Running CPU Test: %1 ").arg(id);
}

struct ChildOutcome {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QStringList lines;
    QString debugLog;
    qint64 closedAtMs = -1;

    QString lineStartingWith(const QString& prefix) const {
        for (const QString& line : lines) {
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        return QString();
    }
};

ChildOutcome runScenario(const QString& scenario) {
    ChildOutcome outcome;
    QTemporaryDir workDir;
    QProcess child;
    // The abort's message is read from standard error; otherwise it passes.
    child.setProcessChannelMode(scenario == QLatin1String("offthread") ? QProcess::MergedChannels
                                                                      : QProcess::ForwardedErrorChannel);
    child.setWorkingDirectory(workDir.path());
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), scenario, QStringLiteral("-debug")});
    if (!child.waitForStarted(10000))
        return outcome;
    child.waitForFinished(120000);
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(5000);
        return outcome;
    }
    QFile log(QDir(workDir.path()).filePath(QStringLiteral("debug.log")));
    if (log.open(QIODevice::ReadOnly))
        outcome.debugLog = QString::fromUtf8(log.readAll());
    outcome.exitCode = child.exitCode();
    outcome.exitStatus = child.exitStatus();
    outcome.lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString closed = outcome.lineStartingWith(QStringLiteral("closing "));
    if (!closed.isEmpty())
        outcome.closedAtMs = closed.toLongLong();
    return outcome;
}

}  // namespace

class QuitTest : public QObject {
    Q_OBJECT

private slots:
    void quittingWhileIdleEndsNormally();
    void terminatingBeforeASuiteEndsItBeforeItsFirstTest();
    void quittingDuringASuiteEndsWithStatusZeroAtTheNextCheck();
    void quittingDuringASuitesLastTestLetsItFinish();
    void quittingDuringASingleRowLetsTheTestFinish();
    void stateWrittenOffTheMainThreadAbortsTheProcess();
};

void QuitTest::quittingWhileIdleEndsNormally() {
    const ChildOutcome outcome = runScenario(QStringLiteral("idle"));
    QCOMPARE(outcome.exitStatus, QProcess::NormalExit);
    QCOMPARE(outcome.exitCode, kReturnedExitCode);
    QCOMPARE(outcome.lineStartingWith(QStringLiteral("returned ")), QStringLiteral("0"));
    QCOMPARE(outcome.lineStartingWith(QStringLiteral("result0 ")), QStringLiteral("0.0 Million Operations/s"));
}

void QuitTest::terminatingBeforeASuiteEndsItBeforeItsFirstTest() {
    const ChildOutcome outcome = runScenario(QStringLiteral("queued"));
    QVERIFY2(outcome.closedAtMs > 0, "the suite was never started");
    QCOMPARE(outcome.exitStatus, QProcess::NormalExit);
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(outcome.lineStartingWith(QStringLiteral("returned ")).isEmpty());
    QVERIFY2(!outcome.debugLog.contains(QStringLiteral("Running CPU Test")), qPrintable(outcome.debugLog));
}

void QuitTest::quittingDuringASuiteEndsWithStatusZeroAtTheNextCheck() {
    const ChildOutcome outcome = runScenario(QStringLiteral("suite"));
    QVERIFY2(outcome.closedAtMs > 0, "the suite never started");
    QCOMPARE(outcome.exitStatus, QProcess::NormalExit);
    QCOMPARE(outcome.exitCode, 0);
    // Ended by the suite's check, not by returning from the event loop.
    QVERIFY(outcome.lineStartingWith(QStringLiteral("returned ")).isEmpty());
    // Only the test in progress was let finish.
    QVERIFY2(outcome.debugLog.contains(started(0)), qPrintable(outcome.debugLog));
    QVERIFY2(!outcome.debugLog.contains(started(1)), qPrintable(outcome.debugLog));
}

void QuitTest::quittingDuringASuitesLastTestLetsItFinish() {
    const ChildOutcome outcome = runScenario(QStringLiteral("last"));
    QVERIFY2(outcome.closedAtMs > 0, "the last test was never reached");
    QCOMPARE(outcome.exitStatus, QProcess::NormalExit);
    QCOMPARE(outcome.exitCode, kReturnedExitCode);
    QCOMPARE(outcome.lineStartingWith(QStringLiteral("returned ")), QStringLiteral("0"));
    const QString result = outcome.lineStartingWith(QStringLiteral("result13 "));
    QVERIFY2(result.endsWith(QStringLiteral(" Megabytes")) && result != QStringLiteral("0 Megabytes"),
             qPrintable(result));
}

void QuitTest::quittingDuringASingleRowLetsTheTestFinish() {
    const ChildOutcome outcome = runScenario(QStringLiteral("row"));
    QVERIFY2(outcome.closedAtMs > 0, "the window was never closed");
    QCOMPARE(outcome.exitStatus, QProcess::NormalExit);
    QCOMPARE(outcome.exitCode, kReturnedExitCode);
    QCOMPARE(outcome.lineStartingWith(QStringLiteral("returned ")), QStringLiteral("0"));
    const QString result = outcome.lineStartingWith(QStringLiteral("result0 "));
    QVERIFY(result.endsWith(QStringLiteral(" Million Operations/s")));
    QVERIFY2(result != QStringLiteral("0.0 Million Operations/s"), "the test was cut short");
    QVERIFY2(outcome.debugLog.contains(QStringLiteral("CPU Test: 0 Cumulative Total")), qPrintable(outcome.debugLog));
}

void QuitTest::stateWrittenOffTheMainThreadAbortsTheProcess() {
    const ChildOutcome outcome = runScenario(QStringLiteral("offthread"));
    QCOMPARE(outcome.exitStatus, QProcess::CrashExit);
    QVERIFY2(outcome.lines.join(QLatin1Char('\n')).contains(QStringLiteral("TestState written outside the main thread")),
             qPrintable(outcome.lines.join(QLatin1Char('\n'))));
    QVERIFY(outcome.lineStartingWith(QStringLiteral("returned ")).isEmpty());
}

int main(int argc, char** argv) {
    if (argc >= 3 && QByteArray(argv[1]) == "--child") {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return runChild(argc, argv, QString::fromLocal8Bit(argv[2]));
    }
    QuitTest test;
    return runWindowTest(&test, argc, argv);
}

#include "quit_test.moc"
