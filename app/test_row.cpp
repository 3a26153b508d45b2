#include "test_row.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "dispatch.h"
#include "environment.h"
#include "widgets.h"

TestRow::TestRow(TestState& testState, const QString& name, int index, Binding<TestStatus> status,
                 QWidget* parent)
    : QWidget(parent), testState_(testState), name_(name), index_(index), status_(std::move(status)) {
    auto* row = new QHBoxLayout(this);
    row->setAlignment(Qt::AlignVCenter);
    row->setContentsMargins(row->contentsMargins().left(), 0, row->contentsMargins().right(), 0);

    runButton_ = new QPushButton(tr("Run"));
    connect(runButton_, &QPushButton::clicked, this, &TestRow::runSingleTest);
    row->addWidget(frame(runButton_, layout::kRunWidth));

    nameText_ = new QLabel(name_);
    nameText_->setTextFormat(Qt::PlainText);
    row->addWidget(frame(nameText_, layout::kNameWidth));

    statusCell_ = new QWidget;
    auto* cell = new QHBoxLayout(statusCell_);
    cell->setContentsMargins(0, 0, 0, 0);
    cell->setSpacing(0);
    statusText_ = new QLabel;
    statusText_->setTextFormat(Qt::PlainText);
    textSlot_ = frame(statusText_, layout::kValueWidth);
    spinnerSlot_ = smallSpinner(&spinner_);
    cell->addWidget(textSlot_);
    cell->addWidget(spinnerSlot_);
    row->addWidget(statusCell_);
    row->addStretch(1);

    connect(&testState_, &TestState::disableButtonsChanged, this, &TestRow::redraw);
    redraw();
}

void TestRow::redraw() {
    runButton_->setEnabled(!testState_.disableButtons());

    switch (status_.get()) {
    case TestStatus::queued:
        statusText_->setText(tr("Queued"));
        spinnerSlot_->hide();
        textSlot_->show();
        break;
    case TestStatus::running:
        textSlot_->hide();
        spinnerSlot_->show();
        break;
    case TestStatus::not_run:
    case TestStatus::complete:
        statusText_->setText(takeEngineText(getResultText(testState_.baseline, index_)));
        spinnerSlot_->hide();
        textSlot_->show();
        break;
    }
}

void TestRow::runSingleTest() {
    testState_.setDisableButtons(true);
    status_.set(TestStatus::running);
    // The work item carries what it needs; the guard, made here on the main
    // thread, lets the hand-back skip a row that no longer exists.
    DispatchQueue::global().async([this, row = QPointer<TestRow>(this)] { runSingleTestInBackground(row); });
}

// Background thread: reads only what is fixed at creation (the record, the
// id, the binding); the status write is marshalled by the panel.
void TestRow::runSingleTestInBackground(QPointer<TestRow> row) {
    runTest(testState_.baseline, static_cast<TestId>(index_));
    status_.set(TestStatus::complete);
    DispatchQueue::main().async([row] {
        if (row)
            row->testFinished();
    });
}

void TestRow::testFinished() {
    Baseline* baseline = testState_.baseline;
    testState_.setDisableButtons(false);
    testState_.setCpuComplete(hasCpuMark(baseline));
    testState_.setMemComplete(hasMemoryMark(baseline));
    testState_.setResultsComplete(allResultsComplete(baseline));
}
