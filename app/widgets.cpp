#include "widgets.h"

#include <algorithm>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "environment.h"

QWidget* frame(QWidget* content, int width, int height) {
    auto* slot = new QWidget;
    auto* layout = new QHBoxLayout(slot);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content, 0, Qt::AlignLeft | Qt::AlignVCenter);
    layout->addStretch(1);
    // Content larger than its slot is held to the slot rather than
    // stretching the row.
    if (width >= 0) {
        slot->setFixedWidth(width);
        content->setMaximumWidth(width);
    }
    if (height >= 0) {
        slot->setFixedHeight(height);
        content->setMaximumHeight(height);
    }
    return slot;
}

ProgressSpinner::ProgressSpinner(double scale, QWidget* parent) : QWidget(parent), scale_(scale) {
    timer_.setInterval(kStepMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % kTicks;
        update();
    });
}

QSize ProgressSpinner::sizeHint() const {
    const int side = static_cast<int>(kNaturalDiameter * scale_ + 0.5);
    return QSize(side, side);
}

void ProgressSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double diameter = kNaturalDiameter * scale_;
    const double radius = diameter / 2.0;
    painter.translate(radius, height() / 2.0);
    QColor tick = palette().color(QPalette::WindowText);
    QPen pen(tick, std::max(1.0, diameter / 10.0), Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kTicks; ++i) {
        // The tick at the current phase is darkest; the ones behind it fade.
        const int age = (phase_ - i + kTicks) % kTicks;
        tick.setAlphaF(1.0 - 0.8 * age / (kTicks - 1));
        pen.setColor(tick);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / kTicks);
        painter.drawLine(QPointF(0.0, -radius * 0.45), QPointF(0.0, -radius * 0.95));
        painter.restore();
    }
}

void ProgressSpinner::showEvent(QShowEvent* event) {
    timer_.start();
    QWidget::showEvent(event);
}

void ProgressSpinner::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

QWidget* smallSpinner(ProgressSpinner** spinner) {
    constexpr int kWidth = 258;
    constexpr int kHeight = 10;
    constexpr double kScale = 0.75;
    *spinner = new ProgressSpinner(kScale);
    (*spinner)->setFixedSize(kWidth, kHeight);
    return frame(*spinner, kWidth, kHeight);
}

GroupBox::GroupBox(const QString& label, const QString& symbol, QWidget* parent)
    : QWidget(parent), symbol_(symbol) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(4);

    auto* labelLine = new QHBoxLayout;
    labelLine->setSpacing(6);
    auto* icon = new QLabel;
    const int side = fontMetrics().height();
    icon->setPixmap(systemSymbol(symbol_).pixmap(side, side));
    labelText_ = new QLabel(label);
    labelLine->addWidget(icon);
    labelLine->addWidget(labelText_);
    labelLine->addStretch(1);
    outer->addLayout(labelLine);

    auto* box = new QFrame;
    box->setFrameShape(QFrame::StyledPanel);
    box->setFrameShadow(QFrame::Sunken);
    contentLayout_ = new QVBoxLayout(box);
    outer->addWidget(box);
}

QString GroupBox::label() const {
    return labelText_->text();
}
