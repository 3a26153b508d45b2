#pragma once

#include <QIcon>
#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;
class QLayout;
class QVBoxLayout;

// Columns of the panels' rows, in pixels: "Run", the name (or the mark's
// label), the value (result, "Queued" or the mark); and the rows' height.
namespace layout {
inline constexpr int kRunWidth = 80;
inline constexpr int kNameWidth = 300;
inline constexpr int kValueWidth = 250;
inline constexpr int kRowHeight = 20;
}  // namespace layout

// A slot of fixed width and/or height (a negative size leaves that direction
// free) holding content at its leading edge, vertically centred. The content
// keeps its own size inside the slot; a slot larger than its content leaves
// blank space after it.
QWidget* frame(QWidget* content, int width, int height = -1);

// An indeterminate circular progress indicator (a ring of ticks that turns
// while it is visible), drawn at `scale` times its natural size at the
// leading edge of its area, vertically centred.
class ProgressSpinner : public QWidget {
    Q_OBJECT
public:
    static constexpr int kNaturalDiameter = 14;  // pixels at scale 1

    explicit ProgressSpinner(double scale = 1.0, QWidget* parent = nullptr);

    double scale() const { return scale_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static constexpr int kTicks = 12;
    static constexpr int kStepMilliseconds = 80;

    double scale_;
    int phase_ = 0;
    QTimer timer_;
};

// The small spinner of a running row and of "Uploading: ": three quarters
// of its natural size, in a slot 258 wide and 10 high. The spinner itself is
// stored in *spinner.
QWidget* smallSpinner(ProgressSpinner** spinner);

// A titled panel: a label line (a system symbol, looked up by name, and a
// text) above a framed area that holds the content.
class GroupBox : public QWidget {
    Q_OBJECT
public:
    GroupBox(const QString& label, const QString& symbol, QWidget* parent = nullptr);

    // The framed area's layout; put the content here.
    QVBoxLayout* contentLayout() const { return contentLayout_; }
    QString label() const;
    const QString& symbol() const { return symbol_; }

private:
    QString symbol_;
    QLabel* labelText_;
    QVBoxLayout* contentLayout_;
};
