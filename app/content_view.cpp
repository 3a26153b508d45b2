#include "content_view.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "dispatch.h"
#include "environment.h"
#include "results/deployment.h"
#include "suite_view.h"
#include "widgets.h"

namespace {
constexpr int kLogoHeight = 50;
constexpr int kHeaderGapWidth = 220;
constexpr double kTitleFontScale = 1.7;  // the title font against the body font

// A bundled image scaled to the given height, aspect ratio kept; the label
// is named after its image.
QLabel* logo(const QString& name) {
    auto* label = new QLabel;
    label->setObjectName(name);
    const QPixmap image = bundleImage(name);
    if (!image.isNull())
        label->setPixmap(image.scaledToHeight(kLogoHeight, Qt::SmoothTransformation));
    label->setFixedHeight(kLogoHeight);
    return label;
}
}  // namespace

SystemInfoView::SystemInfoView(TestState& testState, QWidget* parent)
    : QWidget(parent), testState_(testState) {
    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(0, 0, 0, 0);
    groupBox_ = new GroupBox(tr("System Information"), QStringLiteral("macmini"));
    infoText_ = new QLabel;
    infoText_->setTextFormat(Qt::PlainText);
    infoText_->setWordWrap(false);
    groupBox_->contentLayout()->addWidget(infoText_);
    body->addWidget(groupBox_);
    // Fixed at its ideal size both ways: never squeezed or stretched.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    redraw();
}

void SystemInfoView::redraw() {
    infoText_->setText(takeEngineText(getSystemInfoText(testState_.baseline)));
}

ContentView::ContentView(TestState& testState, QWidget* parent) : QWidget(parent), testState_(testState) {
    auto* body = new QVBoxLayout(this);

    // Header.
    auto* header = new QHBoxLayout;
    header->setAlignment(Qt::AlignVCenter);
    headerLogo_ = logo(QStringLiteral("vx_headerlogo512"));
    header->addWidget(headerLogo_);
    title_ = new QLabel(tr("Velocitrix CPU Suite"));
    QFont titleFont = font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * kTitleFontScale);
    title_->setFont(titleFont);
    header->addWidget(title_);
    // A blank slot of fixed width, height free.
    headerGap_ = new QWidget;
    headerGap_->setFixedWidth(kHeaderGapWidth);
    header->addWidget(headerGap_);
    makerLogo_ = logo(QStringLiteral("Orvelle-Logo"));
    header->addWidget(makerLogo_);
    header->addStretch(1);
    body->addLayout(header);

    systemInfoView_ = new SystemInfoView(testState_);
    body->addWidget(systemInfoView_, 0, Qt::AlignLeft);

    // Button bar: the website and the upload control. Exactly one of the
    // four upload controls is visible, chosen by redraw.
    auto* bar = new QHBoxLayout;
    bar->setAlignment(Qt::AlignVCenter);
    websiteButton_ = new QPushButton(tr("Benchmark Website"));
    connect(websiteButton_, &QPushButton::clicked, this, &ContentView::openBenchmarkWebsite);
    bar->addWidget(websiteButton_);

    uploadDisabledButton_ = new QPushButton(tr("Upload Disabled"));
    uploadDisabledButton_->setEnabled(false);
    bar->addWidget(uploadDisabledButton_);

    uploadResultsButton_ = new QPushButton(tr("Upload Results"));
    connect(uploadResultsButton_, &QPushButton::clicked, this, &ContentView::uploadResults);
    bar->addWidget(uploadResultsButton_);

    uploadingIndicator_ = new QWidget;
    auto* uploading = new QHBoxLayout(uploadingIndicator_);
    uploading->setContentsMargins(0, 0, 0, 0);
    uploading->setAlignment(Qt::AlignVCenter);
    uploadingText_ = new QLabel(tr("Uploading: "));
    uploading->addWidget(uploadingText_);
    uploading->addWidget(smallSpinner(&uploadingSpinner_));
    bar->addWidget(uploadingIndicator_);

    viewResultsButton_ = new QPushButton(tr("View Results Online"));
    connect(viewResultsButton_, &QPushButton::clicked, this, &ContentView::viewResultsOnline);
    bar->addWidget(viewResultsButton_);
    bar->addStretch(1);
    body->addLayout(bar);

    cpuView_ = new CpuView(testState_);
    body->addWidget(cpuView_);
    memoryView_ = new MemoryView(testState_);
    body->addWidget(memoryView_);
    body->addStretch(1);

    alertPresenter_ = new AlertPresenter(this, [this] { return uploadAlert(); });

    connect(&testState_, &TestState::disableButtonsChanged, this, &ContentView::redraw);
    connect(&testState_, &TestState::resultsUploadedChanged, this, &ContentView::redraw);
    connect(&testState_, &TestState::uploadEnabledChanged, this, &ContentView::redraw);
    redraw();
}

void ContentView::redraw() {
    systemInfoView_->redraw();

    const bool enabled = testState_.uploadEnabled();
    const UploadStatus uploadState = testState_.resultsUploaded();
    uploadDisabledButton_->setVisible(!enabled);
    uploadResultsButton_->setVisible(enabled && uploadState == UploadStatus::waiting);
    uploadResultsButton_->setEnabled(!testState_.disableButtons());
    uploadingIndicator_->setVisible(enabled && uploadState == UploadStatus::initiated);
    viewResultsButton_->setVisible(enabled && uploadState == UploadStatus::complete);

    // The bar's alert hangs on "Upload Results": it can be presented only
    // while that button is there.
    alertPresenter_->setAttached(enabled && uploadState == UploadStatus::waiting);
}

void ContentView::openBenchmarkWebsite() {
    openURL(QUrl(QString::fromUtf8(resultsWebsiteHomePage())));
}

void ContentView::uploadResults() {
    testState_.setDisableButtons(true);
    if (!testState_.resultsComplete()) {
        alert_ = UploadAlert::confirm;
        alertPresenter_->setShowAlert(true);
        testState_.setDisableButtons(false);
        return;
    }
    testState_.setResultsUploaded(UploadStatus::initiated);
    DispatchQueue::global().async([this, view = QPointer<ContentView>(this)] { uploadInBackground(view); });
}

// Background thread: writes neither TestState nor the view's state; the
// outcome goes back to the main thread.
void ContentView::uploadInBackground(QPointer<ContentView> view) {
    Baseline* baseline = testState_.baseline;
    const QByteArray home = QFile::encodeName(homeDirectory());
    const bool uploaded = saveAndUploadResults(baseline, home.constData());
    DispatchQueue::main().async([view, uploaded] {
        if (view)
            view->uploadFinished(uploaded);
    });
}

void ContentView::uploadFinished(bool uploaded) {
    testState_.setResultsUploaded(UploadStatus::waiting);
    alert_ = uploaded ? UploadAlert::success : UploadAlert::failed;
    alertPresenter_->setShowAlert(true);
    testState_.setDisableButtons(false);
}

Alert ContentView::uploadAlert() {
    return uploadAlert(alert_);
}

Alert ContentView::uploadAlert(UploadAlert choice) {
    switch (choice) {
    case UploadAlert::confirm:
        return Alert{tr("Tests Incomplete"), tr("All tests must be run before uploading results"),
                     AlertButton::defaultButton(tr("OK")), std::nullopt};
    case UploadAlert::failed:
        return Alert{tr("Upload Failed"), tr("Check network connection and try again"),
                     AlertButton::defaultButton(tr("OK")), std::nullopt};
    case UploadAlert::success:
        break;
    }
    return Alert{tr("Upload Successful"), tr("Your results have been succesfully uploaded"),
                 AlertButton::defaultButton(tr("View Results Online"), [this] { viewResultsAndMarkUploaded(); }),
                 AlertButton::cancel(tr("Dismiss"), [this] { markUploaded(); })};
}

void ContentView::viewResultsAndMarkUploaded() {
    testState_.setResultsUploaded(UploadStatus::complete);
    openResultsPage();
}

void ContentView::markUploaded() {
    testState_.setResultsUploaded(UploadStatus::complete);
}

void ContentView::viewResultsOnline() {
    openResultsPage();
}

void ContentView::openResultsPage() {
    const QString address = takeEngineText(getResultsUrl(testState_.baseline));
    openURL(QUrl(address));
}
