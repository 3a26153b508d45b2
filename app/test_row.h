#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "binding.h"
#include "test_state.h"

class QLabel;
class QPushButton;
class ProgressSpinner;

// One test of a suite panel: a "Run" button for that test alone, the test's
// name and a status cell ("Queued", a spinner, or the engine's result text).
//
// The row keeps no state of its own: `status` is the panel's entry for this
// test. The status cell is chosen at every redraw, and the result text is
// fetched from the engine at every redraw.
class TestRow : public QWidget {
    Q_OBJECT
public:
    TestRow(TestState& testState, const QString& name, int index, Binding<TestStatus> status,
            QWidget* parent = nullptr);

    const QString& name() const { return name_; }
    int index() const { return index_; }

    // Rereads the status, the result text and disableButtons.
    void redraw();

    // The "Run" button's action (main thread): disables every button, shows
    // the spinner and runs the test in a background work item.
    void runSingleTest();

    QPushButton* runButton() const { return runButton_; }
    QLabel* nameText() const { return nameText_; }
    QLabel* statusText() const { return statusText_; }
    ProgressSpinner* spinner() const { return spinner_; }
    QWidget* statusCell() const { return statusCell_; }

private:
    void runSingleTestInBackground(QPointer<TestRow> row);
    void testFinished();

    TestState& testState_;
    const QString name_;
    const int index_;
    Binding<TestStatus> status_;

    QPushButton* runButton_;
    QLabel* nameText_;
    QWidget* statusCell_;      // holds the three cell forms; one is visible
    QWidget* textSlot_;        // "Queued" or the result text, width 250
    QLabel* statusText_;
    QWidget* spinnerSlot_;     // 258 x 10
    ProgressSpinner* spinner_;
};
