#pragma once

#include <QGroupBox>
#include <QProgressBar>
#include <QString>

class QRadioButton;

namespace gq {

// A progress bar whose value is kept exactly (100/3 stays 100/3; the bar shows it rounded) and
// whose text is whatever it was last told, not a percentage.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    void setExactValue(double value);
    double exactValue() const { return exactValue_; }
    void setText(const QString& text);
    QString text() const override { return text_; }

private:
    double exactValue_ = 0;
    QString text_;
};

// A frame as the window's design draws one: a thin line around its controls with the caption
// set into the top line.
class Frame : public QGroupBox {
    Q_OBJECT
public:
    explicit Frame(const QString& caption, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Sets an option button the way a program sets one: selecting it clears the other buttons of its
// group, clearing it selects none of them. Returns whether the selection changed.
bool SetOptionValue(QRadioButton* option, bool selected);

} // namespace gq
