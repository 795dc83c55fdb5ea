// A drop-down list that notifies when its shown text changes.
#include "widgets/ComboBox.h"

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentIndexChanged, this, &TComboBox::CheckShownText);
    connect(this, &QComboBox::currentTextChanged, this, &TComboBox::CheckShownText);
}

QString TComboBox::ShownText() const {
    return currentIndex() < 0 ? placeholderText() : currentText();
}

void TComboBox::BeginUpdate() {
    ++FUpdating;
}

void TComboBox::EndUpdate() {
    if (FUpdating > 0 && --FUpdating == 0) {
        CheckShownText();
    }
}

void TComboBox::showPopup() {
    emit DroppedDown();
    QComboBox::showPopup();
}

void TComboBox::CheckShownText() {
    if (FUpdating > 0) {
        return;
    }
    const QString shown = ShownText();
    if (shown == FShownText) {
        return;
    }
    FShownText = shown;
    if (OnChange) {
        OnChange(this);
    }
}
