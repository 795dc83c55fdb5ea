// A plain panel that can be framed and reports double-clicks.
#pragma once

#include <QFrame>

class TSkinPanel : public QFrame {
    Q_OBJECT

  public:
    explicit TSkinPanel(QWidget* parent = nullptr, bool framed = false);

  signals:
    void DoubleClicked();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
