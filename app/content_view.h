#pragma once

#include <QPointer>
#include <QWidget>

#include "alert.h"
#include "test_state.h"

class QLabel;
class QPushButton;
class CpuView;
class GroupBox;
class ProgressSpinner;
class MemoryView;

// The system information panel: the engine's three-line description of the
// machine, fetched at every redraw, in a group box that keeps its ideal size.
class SystemInfoView : public QWidget {
    Q_OBJECT
public:
    explicit SystemInfoView(TestState& testState, QWidget* parent = nullptr);

    void redraw();

    GroupBox* groupBox() const { return groupBox_; }
    QLabel* infoText() const { return infoText_; }

private:
    TestState& testState_;
    GroupBox* groupBox_;
    QLabel* infoText_;
};

// The window's content: header, system information, the button bar (the
// results website and the upload control), the CPU panel and the memory
// panel.
class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(TestState& testState, QWidget* parent = nullptr);

    // Rereads the upload state and flags and picks the bar's upload control.
    void redraw();

    // "Benchmark Website".
    void openBenchmarkWebsite();
    // "Upload Results" (main thread).
    void uploadResults();
    // The bar's alert, chosen by alert(), and each of the three by name.
    Alert uploadAlert();
    Alert uploadAlert(UploadAlert choice);
    // Buttons of the success alert.
    void viewResultsAndMarkUploaded();
    void markUploaded();
    // "View Results Online" in the bar: opens the results page.
    void viewResultsOnline();

    UploadAlert alert() const { return alert_; }

    QLabel* headerLogo() const { return headerLogo_; }
    QLabel* title() const { return title_; }
    QWidget* headerGap() const { return headerGap_; }
    QLabel* makerLogo() const { return makerLogo_; }
    SystemInfoView* systemInfoView() const { return systemInfoView_; }
    QPushButton* websiteButton() const { return websiteButton_; }
    QPushButton* uploadDisabledButton() const { return uploadDisabledButton_; }
    QPushButton* uploadResultsButton() const { return uploadResultsButton_; }
    QWidget* uploadingIndicator() const { return uploadingIndicator_; }
    QLabel* uploadingText() const { return uploadingText_; }
    ProgressSpinner* uploadingSpinner() const { return uploadingSpinner_; }
    QPushButton* viewResultsButton() const { return viewResultsButton_; }
    CpuView* cpuView() const { return cpuView_; }
    MemoryView* memoryView() const { return memoryView_; }
    AlertPresenter* alertPresenter() const { return alertPresenter_; }

private:
    void uploadInBackground(QPointer<ContentView> view);
    void uploadFinished(bool uploaded);
    void openResultsPage();

    TestState& testState_;
    UploadAlert alert_ = UploadAlert::confirm;

    QLabel* headerLogo_;
    QLabel* title_;
    QWidget* headerGap_;
    QLabel* makerLogo_;
    SystemInfoView* systemInfoView_;
    QPushButton* websiteButton_;
    QPushButton* uploadDisabledButton_;
    QPushButton* uploadResultsButton_;
    QWidget* uploadingIndicator_;
    QLabel* uploadingText_;
    ProgressSpinner* uploadingSpinner_ = nullptr;
    QPushButton* viewResultsButton_;
    CpuView* cpuView_;
    MemoryView* memoryView_;
    AlertPresenter* alertPresenter_;
};
