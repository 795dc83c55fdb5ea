// A slider whose range change never notifies.
#include "widgets/TrackBar.h"

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    connect(this, &QAbstractSlider::valueChanged, this, &TTrackBar::PositionChanged);
}

void TTrackBar::SetMin(int value) {
    FRangeChanging = true;
    setMinimum(value);
    FRangeChanging = false;
}

void TTrackBar::SetMax(int value) {
    FRangeChanging = true;
    setMaximum(value);
    FRangeChanging = false;
}

void TTrackBar::PositionChanged() {
    if (!FRangeChanging && OnChange) {
        OnChange(this);
    }
}

void TTrackBar::enterEvent(QEnterEvent* event) {
    QSlider::enterEvent(event);
    emit MouseEntered(this);
}

void TTrackBar::leaveEvent(QEvent* event) {
    QSlider::leaveEvent(event);
    emit MouseLeft(this);
}
