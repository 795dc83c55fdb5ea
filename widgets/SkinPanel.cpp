// A plain panel that can be framed and reports double-clicks.
#include "widgets/SkinPanel.h"

#include <QMouseEvent>

TSkinPanel::TSkinPanel(QWidget* parent, bool framed) : QFrame(parent) {
    if (framed) {
        setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    }
}

void TSkinPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit DoubleClicked();
    }
    QFrame::mouseDoubleClickEvent(event);
}
