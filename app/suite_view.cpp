#include "suite_view.h"

#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app_delegate.h"
#include "dispatch.h"
#include "environment.h"
#include "test_row.h"
#include "widgets.h"

namespace {
QString localised(const char* text) {
    return QCoreApplication::translate("SuiteView", text);
}
}  // namespace

const SuiteConfiguration& cpuSuite() {
    static const SuiteConfiguration suite{
        QT_TRANSLATE_NOOP("SuiteView", "CPU Test Suite"),
        "cpu",
        QT_TRANSLATE_NOOP("SuiteView", "CPU Mark"),
        {
            {"Integer Math", 0},
            {"Floating Point Math", 1},
            {"Prime Numbers", 2},
            {"Sorting", 3},
            {"Encryption", 4},
            {"Compression", 5},
            {"CPU Single Thread", 6},
            {"Physics", 7},
            {"Extended Instructions (NEON)", 8},
        },
        9,
        &TestState::CpuComplete,
        &TestState::setCpuComplete,
        &TestState::CpuCompleteChanged,
        &getCpuMarkText,
        &hasCpuMark,
    };
    return suite;
}

const SuiteConfiguration& memorySuite() {
    static const SuiteConfiguration suite{
        QT_TRANSLATE_NOOP("SuiteView", "Memory Test Suite"),
        "memorychip",
        QT_TRANSLATE_NOOP("SuiteView", "Memory Mark"),
        {
            {"Database Operations", 9},
            {"Memory Read Cached", 10},
            {"Memory Read Uncached", 11},
            {"Memory Write", 12},
            {"Available RAM", 13},
            {"Memory Latency", 14},
            {"Memory Threaded", 15},
        },
        16,  // entries 0-8 are never used: an entry's index is the test id
        &TestState::MemComplete,
        &TestState::setMemComplete,
        &TestState::MemCompleteChanged,
        &getMemoryMarkText,
        &hasMemoryMark,
    };
    return suite;
}

SuiteView::SuiteView(TestState& testState, const SuiteConfiguration& configuration, QWidget* parent)
    : QWidget(parent),
      testState_(testState),
      configuration_(configuration),
      testStatus_(configuration.statusEntries, TestStatus::not_run),
      self_(this) {
    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(0, 0, 0, 0);
    groupBox_ = new GroupBox(localised(configuration_.label), QString::fromLatin1(configuration_.symbol));
    body->addWidget(groupBox_);
    QVBoxLayout* suiteContent = groupBox_->contentLayout();

    // Mark row.
    markRow_ = new QWidget;
    auto* markLayout = new QHBoxLayout(markRow_);
    markLayout->setContentsMargins(markLayout->contentsMargins().left(), 0,
                                   markLayout->contentsMargins().right(), 0);
    QFont bold = font();
    bold.setBold(true);
    runButton_ = new QPushButton(tr("Run"));
    connect(runButton_, &QPushButton::clicked, this, &SuiteView::runSuite);
    markLayout->addWidget(frame(runButton_, layout::kRunWidth));
    markLabel_ = new QLabel(localised(configuration_.markLabel));
    markLabel_->setFont(bold);
    markLayout->addWidget(frame(markLabel_, layout::kNameWidth));
    markText_ = new QLabel;
    markText_->setTextFormat(Qt::PlainText);
    markText_->setFont(bold);
    markLayout->addWidget(frame(markText_, layout::kValueWidth));
    markLayout->addStretch(1);
    markRow_->setFixedHeight(layout::kRowHeight);
    suiteContent->addWidget(markRow_);

    // Test rows; each is bound to its entry of testStatus.
    for (const SuiteConfiguration::Row& row : configuration_.rows) {
        const int id = row.id;
        Binding<TestStatus> status{
            [this, id] { return testStatus_.at(id); },
            [this, id](TestStatus value) { writeTestStatus({id}, value); },
        };
        auto* testRow = new TestRow(testState_, QString::fromUtf8(row.name), id, std::move(status));
        testRow->setFixedHeight(layout::kRowHeight);
        suiteContent->addWidget(testRow);
        testRows_.push_back(testRow);
    }

    alertPresenter_ = new AlertPresenter(this, [this] { return uploadAlert(); });

    connect(&testState_, &TestState::disableButtonsChanged, this, &SuiteView::redraw);
    connect(&testState_, configuration_.completeChanged, this, &SuiteView::redraw);
    redraw();
}

void SuiteView::redraw() {
    runButton_->setEnabled(!testState_.disableButtons());
    if ((testState_.*configuration_.isComplete)())
        markText_->setText(takeEngineText(configuration_.markText(testState_.baseline)));
    else
        markText_->setText(tr("Incomplete"));
    for (TestRow* row : testRows_)
        row->redraw();
}

void SuiteView::writeTestStatus(std::vector<int> ids, TestStatus status) {
    if (!onMainThread()) {
        QPointer<SuiteView> panel = self_;
        DispatchQueue::main().async([panel, ids = std::move(ids), status]() mutable {
            if (panel)
                panel->writeTestStatus(std::move(ids), status);
        });
        return;
    }
    for (int id : ids)
        testStatus_.at(id) = status;
    redraw();
    emit testStatusChanged();
}

void SuiteView::runSuite() {
    testState_.setDisableButtons(true);
    testState_.setResultsComplete(false);
    DispatchQueue::global().async([this] { runSuiteInBackground(); });
}

// Background thread. Reads only what is fixed while the panel lives (the
// record, the configuration); row states go through writeTestStatus.
void SuiteView::runSuiteInBackground() {
    Baseline* baseline = testState_.baseline;
    const std::vector<SuiteConfiguration::Row>& rows = configuration_.rows;

    std::vector<int> ids;
    for (const SuiteConfiguration::Row& row : rows)
        ids.push_back(row.id);
    writeTestStatus(ids, TestStatus::queued);
    if (isTerminating.load())
        terminateProcessNow();

    for (std::size_t i = 0; i < ids.size(); ++i) {
        writeTestStatus({ids[i]}, TestStatus::running);
        runTest(baseline, static_cast<TestId>(ids[i]));
        writeTestStatus({ids[i]}, TestStatus::complete);
        if (i + 1 == ids.size())
            break;
        if (isTerminating.load())
            terminateProcessNow();
    }

    QPointer<SuiteView> panel = self_;
    DispatchQueue::main().async([panel] {
        if (panel)
            panel->suiteFinished();
    });
}

void SuiteView::suiteFinished() {
    Baseline* baseline = testState_.baseline;
    testState_.setDisableButtons(false);
    (testState_.*configuration_.setComplete)(configuration_.hasMark(baseline));
    testState_.setResultsComplete(allResultsComplete(baseline));

    if (testState_.resultsComplete() && testState_.uploadEnabled() &&
        testState_.resultsUploaded() != UploadStatus::complete) {
        alert_ = UploadAlert::confirm;
        alertPresenter_->setShowAlert(true);
    }
}

Alert SuiteView::uploadAlert() {
    return uploadAlert(alert_);
}

Alert SuiteView::uploadAlert(UploadAlert choice) {
    switch (choice) {
    case UploadAlert::confirm:
        return Alert{tr("Upload Results"), tr("Benchmark will be uploaded to Chipledger"),
                     AlertButton::destructive(tr("Yes"), [this] { startUpload(); }),
                     AlertButton::cancel(tr("No"))};
    case UploadAlert::failed:
        return Alert{tr("Upload Failed"), tr("Check network connection and try again"),
                     AlertButton::defaultButton(tr("OK")), std::nullopt};
    case UploadAlert::success:
        break;
    }
    return Alert{tr("Upload Successful"), tr("Your results have been succesfully uploaded"),
                 AlertButton::defaultButton(tr("View Results Online"), [this] { viewResultsOnline(); }),
                 AlertButton::cancel(tr("Dismiss"))};
}

void SuiteView::startUpload() {
    testState_.setResultsUploaded(UploadStatus::initiated);
    // Held for the upload's whole length, as the bar's upload holds it: the
    // engine must never run a test while it saves and uploads.
    testState_.setDisableButtons(true);
    DispatchQueue::global().async([this] { uploadInBackground(); });
}

// Background thread.
void SuiteView::uploadInBackground() {
    Baseline* baseline = testState_.baseline;
    const QByteArray home = QFile::encodeName(homeDirectory());
    const bool uploaded = saveAndUploadResults(baseline, home.constData());
    QPointer<SuiteView> panel = self_;
    DispatchQueue::main().async([panel, uploaded] {
        if (panel)
            panel->uploadFinished(uploaded);
    });
}

void SuiteView::uploadFinished(bool uploaded) {
    if (uploaded) {
        testState_.setResultsUploaded(UploadStatus::complete);
        alert_ = UploadAlert::success;
    } else {
        testState_.setResultsUploaded(UploadStatus::waiting);
        alert_ = UploadAlert::failed;
    }
    alertPresenter_->setShowAlert(true);
    testState_.setDisableButtons(false);
}

void SuiteView::viewResultsOnline() {
    const QString address = takeEngineText(getResultsUrl(testState_.baseline));
    openURL(QUrl(address));
}

CpuView::CpuView(TestState& testState, QWidget* parent) : SuiteView(testState, cpuSuite(), parent) {}

MemoryView::MemoryView(TestState& testState, QWidget* parent)
    : SuiteView(testState, memorySuite(), parent) {}
