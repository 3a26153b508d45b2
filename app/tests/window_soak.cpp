// Development driver (not a CTest case): presses the window's CPU suite
// "Run" and then its memory suite "Run", round after round, as a user
// would, answers the upload prompt "No", and reports each round's time, any
// result that came out zero and any worker process left behind.
//
//   vx-window-soak [-seconds N] [-rounds N]
//
// N: whole numbers 1-3600; defaults 1 second per test and 20 rounds. Exit
// status 0 when every result of every round was above zero and no worker
// was left; 1 otherwise; 2 for a bad argument.

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>

#include "state/baseline.h"
#include "state/worker_group.h"
#include "suite_view.h"
#include "test_row.h"
#include "window_test_support.h"

namespace {

int seconds = 1;

Baseline* createSoakBaseline() {
    Baseline* baseline = createBaseline();
    baseline->testSeconds = seconds;
    return baseline;
}

bool parseWhole(const char* text, int& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < 1 || parsed > 3600) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool anyChildLeft() {
    return !(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20;
    for (int i = 1; i < argc; ++i) {
        const bool known = (std::strcmp(argv[i], "-seconds") == 0 || std::strcmp(argv[i], "-rounds") == 0);
        if (!known || i + 1 == argc || !parseWhole(argv[i + 1], argv[i][1] == 's' ? seconds : rounds)) {
            std::fprintf(stderr, "usage: vx-window-soak [-seconds N] [-rounds N]   (N: 1-3600)\n");
            return 2;
        }
        ++i;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    // The offscreen platform warns of every window it cannot size; only the
    // rounds are of interest here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtWarningMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    long forks = 0;
    workerGroupSeamsForTesting().forked = [&](pid_t) { ++forks; };
    // Every test of a suite at its bounds (ready, settle, test time, ten
    // seconds per test second for the results), with room to spare.
    const int suiteBoundMs = 17 * (12 * seconds + 2) * 1000;
    bool sound = true;
    QElapsedTimer all;
    all.start();
    {
        WindowScene scene(&createSoakBaseline);
        if (!scene.shown()) {
            std::fprintf(stderr, "the window was not shown\n");
            return 1;
        }
        for (int round = 1; round <= rounds; ++round) {
            QElapsedTimer timer;
            timer.start();
            QStringList zeros;
            for (SuiteView* panel : {static_cast<SuiteView*>(scene.window.cpuView()),
                                     static_cast<SuiteView*>(scene.window.memoryView())}) {
                panel->runButton()->click();
                if (!waitUntil([&] { return !scene.state.disableButtons(); }, suiteBoundMs)) {
                    std::printf("round %d: a suite did not end within %d s\n", round, suiteBoundMs / 1000);
                    std::fflush(stdout);
                    std::_Exit(1);
                }
                for (const TestRow* row : panel->testRows()) {
                    if (!(scene.state.baseline->results[row->index()] > 0.0)) zeros << row->name();
                }
            }
            if (waitUntil([&] { return presentedAlert(scene.window.memoryView()->alertPresenter()) != nullptr; }, 2000))
                pressAlertButton(presentedAlert(scene.window.memoryView()->alertPresenter()), QStringLiteral("No"));
            const bool left = anyChildLeft();
            sound = sound && zeros.isEmpty() && !left;
            std::printf("round %d: %.1f s, zero results: %s, worker processes left: %s\n", round,
                        static_cast<double>(timer.elapsed()) / 1000.0,
                        zeros.isEmpty() ? "none" : qPrintable(zeros.join(QStringLiteral(", "))), left ? "yes" : "none");
            std::fflush(stdout);
        }
    }
    std::printf("%d rounds of both suites at %d s per test: %.1f s, %ld workers forked, %s\n", rounds, seconds,
                static_cast<double>(all.elapsed()) / 1000.0, forks, sound ? "every result above zero" : "FAILED");
    return sound ? 0 : 1;
}
