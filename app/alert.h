#pragma once

#include <functional>
#include <optional>

#include <QObject>
#include <QPointer>
#include <QString>

#include <QMessageBox>
class QWidget;

// One button of an alert. Every button dismisses the alert; its action, if
// any, runs after the dismissal, on the main thread.
struct AlertButton {
    enum class Role {
        standard,     // the ordinary confirming button
        cancel,       // answers Escape and the window's close button
        destructive,  // confirms an action that cannot be taken back
    };

    static AlertButton defaultButton(const QString& label, std::function<void()> action = {});
    static AlertButton cancel(const QString& label, std::function<void()> action = {});
    static AlertButton destructive(const QString& label, std::function<void()> action = {});

    QString label;
    Role role = Role::standard;
    std::function<void()> action;
};

// An alert: a title, a message and one or two buttons. With one button it
// is also the one that Escape answers; with two, the primary is the default
// (Return) button and the secondary the Escape one.
struct Alert {
    QString title;
    QString message;
    AlertButton primary;
    std::optional<AlertButton> secondary;
};

// One view's alert slot. While showAlert is true and the slot is attached
// (the control that carries the alert is on screen), the alert that
// `build` returns at that moment is presented without blocking the event
// loop (window-modal to the view's window). Dismissing it by any button sets
// showAlert back to false. Setting showAlert while an alert is already up
// changes nothing.
class AlertPresenter : public QObject {
    Q_OBJECT
public:
    AlertPresenter(QWidget* view, std::function<Alert()> build);
    ~AlertPresenter() override;

    bool showAlert() const { return showAlert_; }
    void setShowAlert(bool value);

    // Whether the control that carries the alert is on screen. A detached
    // slot keeps showAlert and presents when it is attached again.
    void setAttached(bool attached);

    // The alert on screen, or null.
    QMessageBox* presented() const { return box_; }

signals:
    void alertPresented();
    void alertDismissed();

private:
    void update();
    void present();
    void answered(int buttonIndex);

    QWidget* view_;
    std::function<Alert()> build_;
    bool showAlert_ = false;
    bool attached_ = true;
    QPointer<QMessageBox> box_;
    Alert shown_;
};
