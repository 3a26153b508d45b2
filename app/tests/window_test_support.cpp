#include "window_test_support.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "alert.h"
#include "state/baseline.h"
#include "suite_view.h"
#include "test_row.h"
#include "widgets.h"

Baseline* createShortBaseline() {
    Baseline* baseline = createBaseline();
    baseline->testSeconds = kShortTestSeconds;
    return baseline;
}

Baseline* createUnsupportedBaseline() {
    Baseline* baseline = createShortBaseline();
    baseline->translated = 1;
    return baseline;
}

void presetCompleteResults(Baseline* baseline) {
    for (int id = 0; id < kTestCount; ++id)
        baseline->results[id] = 100.0 + 10.0 * id;
    baseline->cpuMark = 4321.0;
    baseline->memoryMark = 2345.0;
}

QString cellText(const TestRow* row) {
    if (row->spinner()->isVisible())
        return QStringLiteral("<spinner>");
    return row->statusText()->text();
}

static const std::vector<TestRow*>& rowsOf(const SuiteView* panel) {
    return panel->testRows();
}

QStringList cellTexts(const ContentView& window) {
    QStringList cells;
    for (const SuiteView* panel : {static_cast<const SuiteView*>(window.cpuView()),
                                   static_cast<const SuiteView*>(window.memoryView())}) {
        for (const TestRow* row : rowsOf(panel))
            cells << cellText(row);
    }
    return cells;
}

QList<QPushButton*> runButtons(const ContentView& window) {
    QList<QPushButton*> buttons;
    for (const SuiteView* panel : {static_cast<const SuiteView*>(window.cpuView()),
                                   static_cast<const SuiteView*>(window.memoryView())}) {
        buttons << panel->runButton();
        for (const TestRow* row : rowsOf(panel))
            buttons << row->runButton();
    }
    return buttons;
}

bool anyRunButtonEnabled(const ContentView& window) {
    for (QPushButton* button : runButtons(window)) {
        if (button->isEnabled())
            return true;
    }
    return false;
}

bool anyRunButtonDisabled(const ContentView& window) {
    for (QPushButton* button : runButtons(window)) {
        if (!button->isEnabled())
            return true;
    }
    return false;
}

QMessageBox* presentedAlert(const AlertPresenter* presenter) {
    QMessageBox* box = presenter->presented();
    return (box != nullptr && box->isVisible()) ? box : nullptr;
}

QList<QAbstractButton*> alertButtons(QMessageBox* box) {
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
        return a->property("alertButtonIndex").toInt() < b->property("alertButtonIndex").toInt();
    });
    return buttons;
}

QStringList alertButtonLabels(QMessageBox* box) {
    QStringList labels;
    for (QAbstractButton* button : alertButtons(box))
        labels << button->text();
    return labels;
}

bool pressAlertButton(QMessageBox* box, const QString& label) {
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == label) {
            button->click();
            return true;
        }
    }
    return false;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    return QTest::qWaitFor(done, timeoutMs);
}

QStringList filesIn(const QString& directory) {
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

UrlCatcher::UrlCatcher() {
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
}

UrlCatcher::~UrlCatcher() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void UrlCatcher::openUrl(const QUrl& url) {
    opened << url;
}

ScratchHome::ScratchHome() : previous_(qgetenv("HOME")) {
    qputenv("HOME", dir_.path().toLocal8Bit());
}

ScratchHome::~ScratchHome() {
    qputenv("HOME", previous_);
}

int runWindowTest(QObject* test, int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return QTest::qExec(test, argc, argv);
}
