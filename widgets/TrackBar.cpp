// A slider whose range change never notifies.
#include "widgets/TrackBar.h"

#include <algorithm>
#include <cstdint>

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    connect(this, &QAbstractSlider::valueChanged, this, &TTrackBar::PositionChanged);
}

void TTrackBar::SetMin(int value) {
    FRangeChanging = true;
    setMinimum(value);
    setValue(OnStep(this->value()));
    FRangeChanging = false;
}

void TTrackBar::SetMax(int value) {
    FRangeChanging = true;
    setMaximum(value);
    setValue(OnStep(this->value()));
    FRangeChanging = false;
}

void TTrackBar::SetStep(int step) {
    FStep = std::max(1, step);
    setSingleStep(FStep);
    setPageStep(FStep * std::max(1, (maximum() - minimum()) / FStep / 10));
    FRangeChanging = true;
    setValue(OnStep(value()));
    FRangeChanging = false;
}

int TTrackBar::OnStep(int value) const {
    if (FStep <= 1) {
        return value;
    }
    const int64_t offset = int64_t(value) - minimum();
    int64_t k = (offset + FStep / 2) / FStep;
    // The last step inside the range, when the range does not end on one.
    const int64_t last = (int64_t(maximum()) - minimum()) / FStep;
    k = std::clamp<int64_t>(k, 0, last);
    return static_cast<int>(minimum() + k * FStep);
}

void TTrackBar::PositionChanged() {
    if (const int stepped = OnStep(value()); stepped != value()) {
        // Between two steps: to the nearer one, whose change runs the handler once.
        setValue(stepped);
        return;
    }
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
