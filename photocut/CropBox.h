// The crop box: a transparent panel with a 1-pixel red border that the user drags over
// the view. While a mouse button is held it follows the pointer in whole pixels; it is
// never resized, snapped or kept inside its parent.
#pragma once

#include <QPoint>
#include <QWidget>

class TCropBox : public QWidget {
    Q_OBJECT

  public:
    explicit TCropBox(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool FDragging = false;
    QPoint FPressGlobal;  // pointer position when the drag began, in screen pixels
    QPoint FPressPos;     // the box's position then, in its parent
};
