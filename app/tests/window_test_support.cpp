#include "window_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>

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

const char* const kFixtureSystemInfo =
    "Model: Fixture Model 7\n"
    "CPU: Fixture Processor X (fixture64) 6 cores @ 3210 MHz\n"
    "Memory: 20.5 GiB RAM";

Baseline* createFixtureBaseline() {
    Baseline* baseline = createShortBaseline();
    baseline->device = "Fixture Model 7";
    baseline->cpuName = "Fixture Processor X";
    baseline->architecture = "fixture64";
    baseline->numCores = 6;
    baseline->numLogicals = 12;  // not shown: the panel names cores
    baseline->cpuFrequency = 3210;
    baseline->memory = 20992;  // MiB: 20.5 GiB
    return baseline;
}

void presetCompleteResults(Baseline* baseline) {
    for (int id = 0; id < kTestCount; ++id)
        baseline->results[id] = 100.0 + 10.0 * id;
    baseline->cpuMark = 4321.0;
    baseline->memoryMark = 2345.0;
}

void waitForWorkInFlight() {
    if (QThreadPool::globalInstance()->waitForDone(kWorkInFlightBoundMs))
        return;
    std::fprintf(stderr,
                 "FAIL!  : a window run or upload is still in flight %d s after its test ended; "
                 "ending the test process instead of destroying the window under it\n",
                 kWorkInFlightBoundMs / 1000);
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
}

namespace {
// Both transfers pointed at ports of 127.0.0.1 where nothing listens: an
// upload fails at once and reaches no other host. The product's values for
// anything not named here, so that a setting added later keeps a sound value.
ResultsDeployment unreachableLocalDeployment() {
    ResultsDeployment deployment = productDeployment();
    deployment.ftpHost = "127.0.0.1:" + std::to_string(vxtest::unusedTcpPort());
    deployment.resultsHost = "127.0.0.1:" + std::to_string(vxtest::unusedTcpPort());
    deployment.ftpUser = "vx_test_user";
    deployment.ftpPassword = "vx-throwaway-Pw-0042";
    deployment.caFile.clear();
    deployment.connectTimeoutSeconds = 2;
    deployment.stallTimeoutSeconds = 2;
    return deployment;
}

// The catchers alive, innermost last; the innermost holds the schemes.
QList<UrlCatcher*>& catchers() {
    static QList<UrlCatcher*> stack;
    return stack;
}

void registerCatcher(UrlCatcher* catcher) {
    for (const char* scheme : {"https", "http"}) {
        if (catcher != nullptr)
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), catcher, "openUrl");
        else
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
}
}  // namespace

UrlCatcher::UrlCatcher() {
    catchers().append(this);
    registerCatcher(this);
}

UrlCatcher::~UrlCatcher() {
    catchers().removeAll(this);
    registerCatcher(catchers().isEmpty() ? nullptr : catchers().last());
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

WindowScene::WindowScene(TestState::BaselineFactory makeBaseline, std::optional<ResultsDeployment> deployment)
    : seam(deployment ? std::move(*deployment) : unreachableLocalDeployment()),
      state(QStringList{QStringLiteral("velocitrix")}, makeBaseline),
      window(state) {}

WindowScene::~WindowScene() {
    waitForWorkInFlight();
}

bool WindowScene::shown() {
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

QString cellText(const TestRow* row) {
    if (row->spinner()->isVisible())
        return QStringLiteral("<spinner>");
    return row->statusText()->text();
}

namespace {
QList<const SuiteView*> panelsOf(const ContentView& window) {
    return {window.cpuView(), window.memoryView()};
}
}  // namespace

QStringList cellTexts(const ContentView& window) {
    QStringList cells;
    for (const SuiteView* panel : panelsOf(window)) {
        for (const TestRow* row : panel->testRows())
            cells << cellText(row);
    }
    return cells;
}

QList<QPushButton*> runButtons(const ContentView& window) {
    QList<QPushButton*> buttons;
    for (const SuiteView* panel : panelsOf(window)) {
        buttons << panel->runButton();
        for (const TestRow* row : panel->testRows())
            buttons << row->runButton();
    }
    return buttons;
}

bool anyRunButtonEnabled(const ContentView& window) {
    const QList<QPushButton*> buttons = runButtons(window);
    return std::any_of(buttons.begin(), buttons.end(), [](QPushButton* b) { return b->isEnabled(); });
}

bool anyRunButtonDisabled(const ContentView& window) {
    const QList<QPushButton*> buttons = runButtons(window);
    return !std::all_of(buttons.begin(), buttons.end(), [](QPushButton* b) { return b->isEnabled(); });
}

QString barShows(const ContentView& window) {
    const std::pair<const char*, const QWidget*> controls[] = {
        {"website", window.websiteButton()},       {"upload", window.uploadResultsButton()},
        {"upload-disabled", window.uploadDisabledButton()}, {"uploading", window.uploadingIndicator()},
        {"view-results", window.viewResultsButton()}};
    QStringList shown;
    for (const auto& [name, control] : controls) {
        if (control->isVisible())
            shown << QLatin1String(name) + (control->isEnabled() ? "" : "(off)");
    }
    return shown.join(QLatin1Char(' '));
}

QSize fixedSize(const QWidget* widget) {
    const QSize least = widget->minimumSize();
    const QSize most = widget->maximumSize();
    return QSize(least.width() == most.width() ? least.width() : -1,
                 least.height() == most.height() ? least.height() : -1);
}

QSize frameOf(const QWidget* content) {
    return fixedSize(content->parentWidget());
}

QString mismatches(const QList<Expected>& table) {
    const auto text = [](const QVariant& value) {
        if (value.typeId() != QMetaType::QSize)
            return value.toString();
        return QStringLiteral("%1x%2").arg(value.toSize().width()).arg(value.toSize().height());
    };
    QString report;
    for (const Expected& line : table) {
        if (line.shown != line.expected)
            report += QStringLiteral("\n  %1: shows '%2', expected '%3'").arg(line.what, text(line.shown), text(line.expected));
    }
    return report;
}

namespace {
QString roleName(AlertButton::Role role) {
    return QLatin1String(role == AlertButton::Role::cancel        ? "cancel"
                         : role == AlertButton::Role::destructive ? "destructive"
                                                                  : "standard");
}

QString roleName(QMessageBox::ButtonRole role) {
    return QLatin1String(role == QMessageBox::RejectRole        ? "cancel"
                         : role == QMessageBox::DestructiveRole ? "destructive"
                         : role == QMessageBox::AcceptRole      ? "standard"
                                                                : "other");
}

// "[label*^:role]": '*' the default (Return) button, '^' the Escape one.
QString button(const QString& label, bool isDefault, bool isEscape, const QString& role) {
    return QStringLiteral(" [%1%2%3:%4]")
        .arg(label, isDefault ? QStringLiteral("*") : QString(), isEscape ? QStringLiteral("^") : QString(), role);
}
}  // namespace

QString describe(const Alert& alert) {
    QString line = alert.title + QStringLiteral(" | ") + alert.message + QStringLiteral(" |");
    line += button(alert.primary.label, true, !alert.secondary, roleName(alert.primary.role));
    if (alert.secondary)
        line += button(alert.secondary->label, false, true, roleName(alert.secondary->role));
    return line;
}

QString describe(QMessageBox* box) {
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
        return a->property("alertButtonIndex").toInt() < b->property("alertButtonIndex").toInt();
    });
    QString line = box->text() + QStringLiteral(" | ") + box->informativeText() + QStringLiteral(" |");
    for (QAbstractButton* shown : buttons) {
        line += button(shown->text(), shown == box->defaultButton(), shown == box->escapeButton(),
                       roleName(box->buttonRole(shown)));
    }
    return line;
}

QMessageBox* presentedAlert(const AlertPresenter* presenter) {
    QMessageBox* box = presenter->presented();
    return (box != nullptr && box->isVisible()) ? box : nullptr;
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

int runWindowTest(QObject* test, int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int status = QTest::qExec(test, argc, argv);
    waitForWorkInFlight();
    return status;
}
