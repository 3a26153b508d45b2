// Uploading from the window against real servers on 127.0.0.1: the prompt
// that ends a suite and the bar's "Upload Results", each to success and to
// failure. Results are preset on the record (no benchmark runs here); the
// suites' completion step raises the prompt as a finished run would.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "environment.h"
#include "state/baseline.h"
#include "suite_view.h"
#include "test_servers.h"
#include "widgets.h"
#include "window_test_support.h"

namespace {

constexpr int kUploadTimeoutMs = 30000;
constexpr const char* kAccepted = "Success: true\nDBId: 4711\nfilenameSalt: 42\n";
constexpr const char* kRefused = "Success: false\n";
const QString kRegistration = QStringLiteral("/baselines/V10/upload-linux.php?userFile=");

// Real servers on 127.0.0.1 and a window scene whose upload goes to them,
// over a record whose sixteen results are all present. The scene goes
// first (after the work in flight), the servers after it.
struct LocalServers {
    explicit LocalServers(const char* reply) : https(reply) {}
    vxtest::FtpTestServer ftp;
    vxtest::HttpsTestServer https;
};

struct UploadScene : LocalServers, WindowScene {
    explicit UploadScene(const char* reply)
        : LocalServers(reply),
          WindowScene(&createShortBaseline, vxtest::localDeployment(ftp, https)) {
        presetCompleteResults(state.baseline);
    }

    bool ready() {
        if (!ftp.started())
            qWarning("%s", ftp.log().c_str());
        if (!https.started())
            qWarning("%s", https.log().c_str());
        return ftp.started() && https.started() && shown();
    }
};

QMessageBox* waitForAlert(const AlertPresenter* presenter) {
    QMessageBox* box = nullptr;
    waitUntil([&] { return (box = presentedAlert(presenter)) != nullptr; }, kUploadTimeoutMs);
    return box;
}

bool waitForNoAlert(const AlertPresenter* presenter) {
    return waitUntil([&] { return presentedAlert(presenter) == nullptr; }, 2000);
}

// Ends a suite with every result present and answers its prompt "No",
// which leaves resultsComplete set for the bar's upload.
bool declinePrompt(SuiteView* panel) {
    panel->suiteFinished();
    QMessageBox* prompt = presentedAlert(panel->alertPresenter());
    return prompt != nullptr && pressAlertButton(prompt, QStringLiteral("No")) &&
           waitForNoAlert(panel->alertPresenter());
}

QStringList registrations(const vxtest::HttpsTestServer& https) {
    QStringList paths;
    for (const std::string& path : https.requestPaths())
        paths << QString::fromStdString(path);
    return paths;
}

}  // namespace

class UploadTest : public QObject {
    Q_OBJECT

private slots:
    void promptOnlyForCompleteEnabledNotYetUploadedResults();
    void promptYesUploadsThenOffersTheResultsPage();
    void promptUploadFailureReportsAndLeavesUploadOpen();
    void barUploadSucceedsAndDismissMarksItUploaded();
    void barSuccessAlertOpensTheResultsPage();
    void barUploadFailureCanBeRetriedInFull();
};

// The prompt that ends a suite, over its three conditions (all sixteen
// results above zero, uploads enabled, not yet uploaded), in both panels.
// Each case after the first makes one condition false. The threaded memory
// result is the one left out: the memory mark does not depend on it, so only
// the all-results condition can refuse.
void UploadTest::promptOnlyForCompleteEnabledNotYetUploadedResults() {
    struct Case {
        const char* what;
        TestState::BaselineFactory record;
        int missingResult;  // test id left at 0, or -1
        UploadStatus uploaded;
        bool prompts;
    };
    const Case cases[]{
        {"complete, enabled, waiting", &createShortBaseline, -1, UploadStatus::waiting, true},
        {"complete, enabled, upload running", &createShortBaseline, -1, UploadStatus::initiated, true},
        {"threaded memory result missing", &createShortBaseline, 15, UploadStatus::waiting, false},
        {"integer math result missing", &createShortBaseline, 0, UploadStatus::waiting, false},
        {"uploads disabled", &createUnsupportedBaseline, -1, UploadStatus::waiting, false},
        {"already uploaded", &createShortBaseline, -1, UploadStatus::complete, false},
    };
    QList<Expected> table;
    for (const Case& c : cases) {
        for (bool cpuPanel : {true, false}) {
            WindowScene scene(c.record);
            presetCompleteResults(scene.state.baseline);
            if (c.missingResult >= 0)
                scene.state.baseline->results[c.missingResult] = 0.0;
            scene.state.setResultsUploaded(c.uploaded);
            SuiteView* panel = cpuPanel ? static_cast<SuiteView*>(scene.window.cpuView())
                                        : static_cast<SuiteView*>(scene.window.memoryView());
            panel->suiteFinished();
            QMessageBox* prompt = presentedAlert(panel->alertPresenter());
            table << Expected{QString::fromLatin1(c.what) + (cpuPanel ? " (CPU)" : " (memory)"),
                              prompt != nullptr, c.prompts};
            if (prompt != nullptr)
                QCOMPARE(describe(prompt), describe(panel->uploadAlert(UploadAlert::confirm)));
            QCOMPARE(scene.state.resultsUploaded(), c.uploaded);
            QVERIFY(presentedAlert(scene.window.alertPresenter()) == nullptr);
        }
    }
    const QString report = mismatches(table);
    QVERIFY2(report.isEmpty(), qPrintable(report));
}

// "Yes" in the prompt: the bar shows "Uploading: " with its spinner while no
// test can start; on success the panel reports it and the bar offers the
// results page.
void UploadTest::promptYesUploadsThenOffersTheResultsPage() {
    UploadScene w(kAccepted);
    QVERIFY(w.ready());

    w.window.memoryView()->suiteFinished();
    QMessageBox* prompt = presentedAlert(w.window.memoryView()->alertPresenter());
    QVERIFY(prompt != nullptr);
    QCOMPARE(describe(prompt), describe(w.window.memoryView()->uploadAlert(UploadAlert::confirm)));
    QVERIFY(pressAlertButton(prompt, QStringLiteral("Yes")));

    QCOMPARE(w.state.resultsUploaded(), UploadStatus::initiated);
    QCOMPARE(barShows(w.window), QStringLiteral("website uploading"));
    QVERIFY(w.window.uploadingText()->isVisible() && w.window.uploadingSpinner()->isVisible());
    // No test may start while the engine uploads.
    QVERIFY(!anyRunButtonEnabled(w.window));

    QMessageBox* done = waitForAlert(w.window.memoryView()->alertPresenter());
    QVERIFY(done != nullptr);
    QCOMPARE(describe(done), describe(w.window.memoryView()->uploadAlert(UploadAlert::success)));

    // The panel's upload marks the results uploaded at once.
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::complete);
    QCOMPARE(barShows(w.window), QStringLiteral("website view-results"));
    QVERIFY(!anyRunButtonDisabled(w.window));

    // What was sent: the file written in the home directory, by FTP, and its
    // name to the results server.
    const QStringList saved = filesIn(w.home.path());
    QCOMPARE(saved.size(), 1);
    QVERIFY(saved.first().startsWith(QStringLiteral("BL_")));
    QVERIFY(saved.first().endsWith(QStringLiteral(".vx")));
    QCOMPARE(w.ftp.files(), std::vector<std::string>{saved.first().toStdString()});
    QFile local(QDir(w.home.path()).filePath(saved.first()));
    QVERIFY(local.open(QIODevice::ReadOnly));
    QCOMPARE(local.readAll().toStdString(), w.ftp.readFile(saved.first().toStdString()));
    QCOMPARE(registrations(w.https), QStringList{kRegistration + saved.first()});

    const QUrl page(QStringLiteral("https://%1/baselines/V10/display.php?id=471100042")
                        .arg(QString::fromStdString(w.https.hostAndPort())));
    QVERIFY(pressAlertButton(done, QStringLiteral("View Results Online")));
    QVERIFY(waitForNoAlert(w.window.memoryView()->alertPresenter()));
    QCOMPARE(w.browser.opened, QList<QUrl>{page});

    // The bar's "View Results Online" opens the same page and changes nothing.
    QTest::mouseClick(w.window.viewResultsButton(), Qt::LeftButton);
    QCOMPARE(w.browser.opened, (QList<QUrl>{page, page}));
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::complete);
    QCOMPARE(registrations(w.https).size(), 1);
}

void UploadTest::promptUploadFailureReportsAndLeavesUploadOpen() {
    UploadScene w(kAccepted);
    QVERIFY(w.ready());
    // Nothing listens where the results are to go.
    w.seam.deployment().ftpHost = "127.0.0.1:" + std::to_string(vxtest::unusedTcpPort());

    w.window.cpuView()->suiteFinished();
    QMessageBox* prompt = presentedAlert(w.window.cpuView()->alertPresenter());
    QVERIFY(prompt != nullptr);
    QVERIFY(pressAlertButton(prompt, QStringLiteral("Yes")));
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::initiated);

    QMessageBox* failed = waitForAlert(w.window.cpuView()->alertPresenter());
    QVERIFY(failed != nullptr);
    QCOMPARE(describe(failed), describe(w.window.cpuView()->uploadAlert(UploadAlert::failed)));
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::waiting);
    QCOMPARE(barShows(w.window), QStringLiteral("website upload"));
    QVERIFY(!anyRunButtonDisabled(w.window));
    QCOMPARE(registrations(w.https), QStringList{});

    QVERIFY(pressAlertButton(failed, QStringLiteral("OK")));
    QVERIFY(waitForNoAlert(w.window.cpuView()->alertPresenter()));
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::waiting);
    QCOMPARE(w.browser.opened.size(), 0);
}

// The bar's upload: "Uploading: " while it runs; the outcome alert hangs on
// "Upload Results", which is back while it is up; "Dismiss" then marks the
// results uploaded without opening anything.
void UploadTest::barUploadSucceedsAndDismissMarksItUploaded() {
    UploadScene w(kAccepted);
    QVERIFY(w.ready());
    QVERIFY(declinePrompt(w.window.memoryView()));
    QCOMPARE(w.state.resultsComplete(), true);

    QTest::mouseClick(w.window.uploadResultsButton(), Qt::LeftButton);
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::initiated);
    QCOMPARE(w.state.disableButtons(), true);
    QCOMPARE(barShows(w.window), QStringLiteral("website uploading"));
    QVERIFY(!anyRunButtonEnabled(w.window));

    QMessageBox* done = waitForAlert(w.window.alertPresenter());
    QVERIFY(done != nullptr);
    QCOMPARE(describe(done), describe(w.window.uploadAlert(UploadAlert::success)));
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::waiting);
    QCOMPARE(barShows(w.window), QStringLiteral("website upload"));
    QCOMPARE(w.state.disableButtons(), false);
    QCOMPARE(registrations(w.https).size(), 1);

    QVERIFY(pressAlertButton(done, QStringLiteral("Dismiss")));
    QVERIFY(waitForNoAlert(w.window.alertPresenter()));
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::complete);
    QCOMPARE(barShows(w.window), QStringLiteral("website view-results"));
    QCOMPARE(w.browser.opened.size(), 0);

    QTest::mouseClick(w.window.viewResultsButton(), Qt::LeftButton);
    QCOMPARE(w.browser.opened,
             QList<QUrl>{QUrl(takeEngineText(getResultsUrl(w.state.baseline)))});
    QCOMPARE(w.browser.opened.first().toString(),
             QStringLiteral("https://%1/baselines/V10/display.php?id=471100042")
                 .arg(QString::fromStdString(w.https.hostAndPort())));
}

void UploadTest::barSuccessAlertOpensTheResultsPage() {
    UploadScene w("Success: true\nDBId: 12\nfilenameSalt: 7\n");
    QVERIFY(w.ready());
    QVERIFY(declinePrompt(w.window.cpuView()));

    QTest::mouseClick(w.window.uploadResultsButton(), Qt::LeftButton);
    QMessageBox* done = waitForAlert(w.window.alertPresenter());
    QVERIFY(done != nullptr);
    QVERIFY(pressAlertButton(done, QStringLiteral("View Results Online")));
    QVERIFY(waitForNoAlert(w.window.alertPresenter()));
    QCOMPARE(w.state.resultsUploaded(), UploadStatus::complete);
    QCOMPARE(barShows(w.window), QStringLiteral("website view-results"));
    QCOMPARE(w.browser.opened,
             QList<QUrl>{QUrl(QStringLiteral("https://%1/baselines/V10/display.php?id=1200007")
                                  .arg(QString::fromStdString(w.https.hostAndPort())))});
}

// A refused registration fails the upload; "Upload Results" is back and a
// second press saves, uploads and registers everything again.
void UploadTest::barUploadFailureCanBeRetriedInFull() {
    UploadScene w(kRefused);
    QVERIFY(w.ready());
    QVERIFY(declinePrompt(w.window.cpuView()));

    for (int attempt = 1; attempt <= 2; ++attempt) {
        QTest::mouseClick(w.window.uploadResultsButton(), Qt::LeftButton);
        QCOMPARE(w.state.resultsUploaded(), UploadStatus::initiated);
        QMessageBox* failed = waitForAlert(w.window.alertPresenter());
        QVERIFY(failed != nullptr);
        QCOMPARE(describe(failed), describe(w.window.uploadAlert(UploadAlert::failed)));
        QCOMPARE(w.state.resultsUploaded(), UploadStatus::waiting);
        QVERIFY(pressAlertButton(failed, QStringLiteral("OK")));
        QVERIFY(waitForNoAlert(w.window.alertPresenter()));
        QCOMPARE(w.state.resultsUploaded(), UploadStatus::waiting);
        QCOMPARE(barShows(w.window), QStringLiteral("website upload"));
        QCOMPARE(registrations(w.https).size(), attempt);
        QVERIFY(!w.ftp.files().empty());
    }
    QCOMPARE(w.browser.opened.size(), 0);
}

VX_WINDOW_TEST_MAIN(UploadTest)
#include "upload_test.moc"
