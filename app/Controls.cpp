#include "Controls.h"

#include <QPainter>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace gq {

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void ProgressBar::setExactValue(double value) {
    exactValue_ = value;
    double shown = std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : 0.0;
    setValue(static_cast<int>(std::lround(shown)));
}

void ProgressBar::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    update();
}

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

void Frame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QFontMetrics metrics = fontMetrics();
    int top = metrics.height() / 2;
    painter.setPen(QColor(0xa0, 0xa0, 0xa0));
    painter.drawRect(0, top, width() - 1, height() - 1 - top);
    if (title().isEmpty())
        return;
    QRect caption(7, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}

bool SetOptionValue(QRadioButton* option, bool selected) {
    if (option->isChecked() == selected)
        return false;
    if (selected) {
        option->setChecked(true);
    } else {
        // An exclusive button refuses to be cleared; for a moment it is not exclusive.
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
    return true;
}

} // namespace gq
