// Quitting the application: the program itself runs in a child process
// (this executable started with "--child <case> -debug" in a directory of
// its own) and closes its window at a chosen moment: idle; "queued" (the
// terminating flag set before the CPU suite's "Run"); "suite" (during the CPU
// suite's first test); "last" (during the last of two short memory tests,
// built as the panels are); "row" (during Integer Math run from its row). The
// test reads how and when the process ended, and from its debug log which
// tests it started. One end is not a quit: "offthread", a work item that
// writes the shared state, which only the main thread may write, aborts.

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
    void quittingEndsAsItsMomentAsks_data();
    void quittingEndsAsItsMomentAsks();
    void stateWrittenOffTheMainThreadAbortsTheProcess();
};

// How each quit ends: returned from the event loop (kReturnedExitCode, its
// "returned 0" line) or ended by the suite's check (0, no such line); the
// figure it left in one result ("" for none, a zero text when it must be 0,
// otherwise any other figure in that unit); what the debug log must hold and
// must not.
void QuitTest::quittingEndsAsItsMomentAsks_data() {
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("resultLine");
    QTest::addColumn<QString>("zeroText");
    QTest::addColumn<bool>("mustBeZero");
    QTest::addColumn<QString>("logHas");
    QTest::addColumn<QString>("logLacks");
    const auto q = [](const char* text) { return QString::fromLatin1(text); };
    const QString cpuZero = q("0.0 Million Operations/s");
    QTest::newRow("idle") << kReturnedExitCode << q("result0 ") << cpuZero << true << q("") << q("");
    QTest::newRow("queued") << 0 << q("") << q("") << false << q("") << q("Running CPU Test");
    QTest::newRow("suite") << 0 << q("") << q("") << false << started(0) << started(1);
    QTest::newRow("last") << kReturnedExitCode << q("result13 ") << q("0 Megabytes") << false << q("") << q("");
    QTest::newRow("row") << kReturnedExitCode << q("result0 ") << cpuZero << false
                         << q("CPU Test: 0 Cumulative Total") << q("");
}

void QuitTest::quittingEndsAsItsMomentAsks() {
    QFETCH(int, exitCode);
    QFETCH(QString, resultLine);
    QFETCH(QString, zeroText);
    QFETCH(bool, mustBeZero);
    QFETCH(QString, logHas);
    QFETCH(QString, logLacks);
    const QByteArray moment = QTest::currentDataTag();
    if (moment == "suite" || moment == "row")
        VX_SKIP_IF_FORKS_UNDER_SANITIZER();  // the child runs CPU tests
    const ChildOutcome outcome = runScenario(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(outcome.closedAtMs > 0, "the moment to quit was never reached");
    QCOMPARE(outcome.exitStatus, QProcess::NormalExit);
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.lineStartingWith(QStringLiteral("returned ")),
             exitCode == kReturnedExitCode ? QStringLiteral("0") : QString());
    if (!resultLine.isEmpty()) {
        const QString result = outcome.lineStartingWith(resultLine);
        QVERIFY2(result.endsWith(zeroText.mid(zeroText.indexOf(QLatin1Char(' '))))
                     && (result == zeroText) == mustBeZero, qPrintable(result));
    }
    QVERIFY2(logHas.isEmpty() || outcome.debugLog.contains(logHas), qPrintable(outcome.debugLog));
    QVERIFY2(logLacks.isEmpty() || !outcome.debugLog.contains(logLacks), qPrintable(outcome.debugLog));
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
