// A bar whose controls keep their design distance to its right and bottom
// edges: each is placed at its design position, shifted by however much the
// bar is wider or taller than its design size.
#pragma once

#include <vector>

#include <QFrame>
#include <QRect>
#include <QSize>

class TButtonBar : public QFrame {
    Q_OBJECT

  public:
    TButtonBar(QSize designSize, QWidget* parent = nullptr);

    // Takes the control as a child at its design rectangle.
    void AddControl(QWidget* control, const QRect& designRect);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Place(QWidget* control, const QRect& designRect);

    struct Entry {
        QWidget* control;  // child of the bar
        QRect designRect;
    };
    QSize FDesignSize;
    std::vector<Entry> FEntries;
};
