// TfrmFullScreen: the borderless window that shows the live picture over the
// whole screen. One per run, made on the first switch and kept hidden between
// switches.
#pragma once

#include <QWidget>

class QKeyEvent;
class TVideoWindow;

class TfrmFullScreen : public QWidget {
    Q_OBJECT

  public:
    explicit TfrmFullScreen(QWidget* parent = nullptr);
    ~TfrmFullScreen() override;

    TVideoWindow* VideoWindow;  // fills the window; black while no picture comes

  public slots:
    // Both ask the application's main window to take the picture back.
    void VideoWindowDblClick();
    void VideoWindowKeyDown(QKeyEvent* event);

  protected:
    void showEvent(QShowEvent* event) override;
    // Closing it from the desktop (a window-manager key) leaves full screen
    // instead of losing the picture with the window.
    void closeEvent(QCloseEvent* event) override;
};

// The run's full-screen window once made; null before.
extern TfrmFullScreen* frmFullScreen;
