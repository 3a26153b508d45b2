#pragma once

// Helpers shared by the window tests: a shortened engine record, reading
// what the window shows, and finding and answering alerts.

#include <functional>

#include <QApplication>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include "content_view.h"
#include "test_state.h"

class QAbstractButton;
class QMessageBox;
class QPushButton;
class AlertPresenter;
class SuiteView;
class TestRow;

// Seconds per test in the window tests (the product runs 6).
constexpr int kShortTestSeconds = 1;

// The engine record as the product creates it, with every test shortened
// to kShortTestSeconds.
Baseline* createShortBaseline();
// The same, on a system judged unsupported (the process runs translated).
Baseline* createUnsupportedBaseline();

// Gives every result a positive figure and both marks a value, as after a
// complete run, without running anything.
void presetCompleteResults(Baseline* baseline);

// What the status cell of a row shows: "<spinner>" while the spinner is
// visible, otherwise the text.
QString cellText(const TestRow* row);
// The status cells of all sixteen rows, CPU panel first, by test id.
QStringList cellTexts(const ContentView& window);
// Every "Run" button of the window: both panels' and all rows'.
QList<QPushButton*> runButtons(const ContentView& window);
bool anyRunButtonEnabled(const ContentView& window);
bool anyRunButtonDisabled(const ContentView& window);

// The alert a view has on screen, or null.
QMessageBox* presentedAlert(const AlertPresenter* presenter);
// The alert's buttons, in the order they were added (primary first).
QList<QAbstractButton*> alertButtons(QMessageBox* box);
QStringList alertButtonLabels(QMessageBox* box);
// Presses the button with this label; false when there is none.
bool pressAlertButton(QMessageBox* box, const QString& label);

// Waits, running the event loop, until done() or the time is up.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// Files in a directory (names only, sorted).
QStringList filesIn(const QString& directory);

// Catches what the window opens in a browser: registered as the handler of
// the https and http schemes while it lives.
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

// Runs a QtTest object under a widget application on the offscreen platform
// unless another platform was asked for.
int runWindowTest(QObject* test, int argc, char** argv);

#define VX_WINDOW_TEST_MAIN(TestClass)           \
    int main(int argc, char** argv) {            \
        TestClass test;                          \
        return runWindowTest(&test, argc, argv); \
    }
