// A bar of controls anchored to its right and bottom edges.
#include "widgets/ButtonBar.h"

#include <QResizeEvent>

TButtonBar::TButtonBar(QSize designSize, QWidget* parent)
    : QFrame(parent), FDesignSize(designSize) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
}

void TButtonBar::AddControl(QWidget* control, const QRect& designRect) {
    control->setParent(this);
    control->setFixedSize(designRect.size());
    FEntries.push_back({control, designRect});
    Place(control, designRect);
    control->show();
}

void TButtonBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    for (const Entry& e : FEntries) {
        Place(e.control, e.designRect);
    }
}

void TButtonBar::Place(QWidget* control, const QRect& designRect) {
    control->move(designRect.left() + width() - FDesignSize.width(),
                  designRect.top() + height() - FDesignSize.height());
}
