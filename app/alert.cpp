#include "alert.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

AlertButton AlertButton::defaultButton(const QString& label, std::function<void()> action) {
    return AlertButton{label, Role::standard, std::move(action)};
}

AlertButton AlertButton::cancel(const QString& label, std::function<void()> action) {
    return AlertButton{label, Role::cancel, std::move(action)};
}

AlertButton AlertButton::destructive(const QString& label, std::function<void()> action) {
    return AlertButton{label, Role::destructive, std::move(action)};
}

AlertPresenter::AlertPresenter(QWidget* view, std::function<Alert()> build)
    : QObject(view), view_(view), build_(std::move(build)) {}

AlertPresenter::~AlertPresenter() {
    if (box_)
        box_->deleteLater();
}

void AlertPresenter::setShowAlert(bool value) {
    showAlert_ = value;
    update();
}

void AlertPresenter::setAttached(bool attached) {
    attached_ = attached;
    update();
}

void AlertPresenter::update() {
    if (showAlert_ && attached_ && !box_)
        present();
}

static QMessageBox::ButtonRole messageBoxRole(AlertButton::Role role) {
    switch (role) {
    case AlertButton::Role::cancel:
        return QMessageBox::RejectRole;
    case AlertButton::Role::destructive:
        return QMessageBox::DestructiveRole;
    case AlertButton::Role::standard:
        break;
    }
    return QMessageBox::AcceptRole;
}

void AlertPresenter::present() {
    shown_ = build_();

    auto* box = new QMessageBox(view_->window());
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(shown_.title);
    box->setTextFormat(Qt::PlainText);
    box->setText(shown_.title);
    box->setInformativeText(shown_.message);
    // The title stands out above the message, and the message gets room to
    // stay on one line.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; }"
                                      "QLabel#qt_msgbox_informativelabel { min-width: 300px; }"));

    QPushButton* primary = box->addButton(shown_.primary.label, messageBoxRole(shown_.primary.role));
    primary->setProperty("alertButtonIndex", 0);
    box->setDefaultButton(primary);
    QPushButton* escape = primary;
    if (shown_.secondary) {
        QPushButton* secondary =
            box->addButton(shown_.secondary->label, messageBoxRole(shown_.secondary->role));
        secondary->setProperty("alertButtonIndex", 1);
        escape = secondary;
    }
    box->setEscapeButton(escape);

    connect(box, &QMessageBox::finished, this, [this, box] {
        QAbstractButton* clicked = box->clickedButton();
        // A close without a button (the window manager's close) counts as the
        // Escape button, as QMessageBox reports it.
        const int index = clicked ? clicked->property("alertButtonIndex").toInt()
                                  : (shown_.secondary ? 1 : 0);
        box->deleteLater();
        box_.clear();
        answered(index);
    });

    box_ = box;
    box->open();
    emit alertPresented();
}

void AlertPresenter::answered(int buttonIndex) {
    const AlertButton& button = (buttonIndex == 1 && shown_.secondary) ? *shown_.secondary : shown_.primary;
    const std::function<void()> action = button.action;
    showAlert_ = false;
    emit alertDismissed();
    if (action)
        action();
}
