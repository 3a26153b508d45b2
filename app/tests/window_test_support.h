#pragma once

// Helpers shared by the window tests: a window scene torn down only once its
// work has ended, shortened and fixture records, reading what the window
// shows, tables of expected values, and alerts.

#include <functional>
#include <optional>

#include <QApplication>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include "alert.h"
#include "content_view.h"
#include "results/deployment.h"
#include "test_servers.h"
#include "test_state.h"

class QAbstractButton;
class QMessageBox;
class QPushButton;
class SuiteView;
class TestRow;

// Seconds per test in the window tests (the product runs 6).
constexpr int kShortTestSeconds = 1;

// The longest a window test waits for a run or an upload still in flight
// when it ends (a failed assertion returns while one runs): the memory suite
// at kShortTestSeconds takes about 45 s under the sanitizers; the window
// tests' CTest time limits are above it.
constexpr int kWorkInFlightBoundMs = 100000;

// The engine record as the product creates it, with every test shortened
// to kShortTestSeconds.
Baseline* createShortBaseline();
// The same, on a system judged unsupported (the process runs translated).
Baseline* createUnsupportedBaseline();
// A shortened record whose system profile holds fixture values, each
// distinct from every other (see kFixtureSystemInfo).
Baseline* createFixtureBaseline();
// The system information text of createFixtureBaseline's record.
extern const char* const kFixtureSystemInfo;

// Gives every result a figure of its own (100 + 10 x id) and the two marks
// values of their own (CPU 4321, memory 2345), as after a complete run,
// without running anything.
void presetCompleteResults(Baseline* baseline);

// Waits until every run and upload work item has ended, at most
// kWorkInFlightBoundMs; should one still run then, the process ends at once
// with a message and a failing status rather than destroy anything under it.
void waitForWorkInFlight();

// Catches what the window opens in a browser: registered as the handler of
// the https and http schemes while it lives; an inner catcher hands the
// schemes back to the outer one when it goes.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher();
    ~UrlCatcher() override;

    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl& url);
};

// A home directory of its own for the test: HOME points at a fresh empty
// directory while it lives.
class ScratchHome {
public:
    ScratchHome();
    ~ScratchHome();
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
};

// One window under test with everything it reaches: its own home directory,
// a browser catcher, the upload pointed at 127.0.0.1 (at `deployment`, or
// where nothing listens), the state over a record from makeBaseline, and the
// window. Its destructor first waits for the work in flight, so a test that
// fails during a run or an upload ends with its report; only then do the
// window, the state and the deployment go.
class WindowScene {
public:
    explicit WindowScene(TestState::BaselineFactory makeBaseline = &createShortBaseline,
                         std::optional<ResultsDeployment> deployment = std::nullopt);
    ~WindowScene();
    WindowScene(const WindowScene&) = delete;
    WindowScene& operator=(const WindowScene&) = delete;

    // Shows the window; false when it was not exposed in time.
    bool shown();

    ScratchHome home;
    UrlCatcher browser;
    vxtest::ScopedTestDeployment seam;
    TestState state;
    ContentView window;
};

// What the status cell of a row shows: "<spinner>" while the spinner is
// visible, otherwise the text.
QString cellText(const TestRow* row);
// The status cells of all sixteen rows, CPU panel first, by test id.
QStringList cellTexts(const ContentView& window);
// Every "Run" button of the window: both panels' and all rows'.
QList<QPushButton*> runButtons(const ContentView& window);
bool anyRunButtonEnabled(const ContentView& window);
bool anyRunButtonDisabled(const ContentView& window);
// The bar's controls on screen, in order, from "website upload
// upload-disabled uploading view-results"; a disabled one marked "(off)".
QString barShows(const ContentView& window);

// The fixed size of a widget, -1 in a direction it is free in.
QSize fixedSize(const QWidget* widget);
// The fixed size of the slot (frame) that holds content.
QSize frameOf(const QWidget* content);

// One line of a table of what a view shows against what it must show.
struct Expected {
    QString what;
    QVariant shown;
    QVariant expected;
};
// Every line whose shown value differs from the expected one, one per line
// of text; empty when all agree.
QString mismatches(const QList<Expected>& table);

// An alert as one line: "title | message | [label:role] ..." with the roles
// standard, cancel and destructive, the default (Return) button marked '*'.
QString describe(const Alert& alert);
// The same of an alert on screen.
QString describe(QMessageBox* box);

// The alert a view has on screen, or null.
QMessageBox* presentedAlert(const AlertPresenter* presenter);
// Presses the button with this label; false when there is none.
bool pressAlertButton(QMessageBox* box, const QString& label);

// Waits, running the event loop, until done() or the time is up.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// Files in a directory (names only, sorted).
QStringList filesIn(const QString& directory);

// Skips the test function in the sanitized build when it runs a test that
// forks workers (the CPU tests, the database test). The window is a process
// of several threads, and the address sanitizer's runtime in this toolchain
// takes no lock around fork: a worker can inherit its allocator's lock held
// by another thread and wait on it for ever (the engine refuses such a fork
// in that build). The engine's own tests fork from a single thread and run
// the workers under the sanitizers.
#if defined(__SANITIZE_ADDRESS__)
#define VX_SKIP_IF_FORKS_UNDER_SANITIZER() \
    QSKIP("forks workers from the window's threads, which the sanitizer runtime does not survive")
#else
#define VX_SKIP_IF_FORKS_UNDER_SANITIZER() \
    do {                                   \
    } while (false)
#endif

// Runs a QtTest object under a widget application on the offscreen platform
// unless another platform was asked for; waits for any work still in flight
// before the application goes.
int runWindowTest(QObject* test, int argc, char** argv);

#define VX_WINDOW_TEST_MAIN(TestClass)           \
    int main(int argc, char** argv) {            \
        TestClass test;                          \
        return runWindowTest(&test, argc, argv); \
    }
