// The program's private window messages: numbers, the event that carries one,
// synchronous sending, and the application's main window that senders address.
#pragma once

#include <QEvent>
#include <QtGlobal>

class QObject;
class QWidget;

constexpr uint WM_USER = 0x0400;

constexpr uint WM_SAVEPATH_CHANGED = WM_USER + 111;  // 0x46F
constexpr uint WM_SETUP_LOAD = WM_USER + 113;        // 0x471
constexpr uint WM_SETUP_TOGGLE = WM_USER + 114;      // 0x472
constexpr uint WM_DEVICE_SELECT = WM_USER + 115;     // 0x473, wParam = device index
constexpr uint WM_CAMERA_DEFAULTS = WM_USER + 116;   // 0x474
constexpr uint WM_CAMERA_RELOAD = WM_USER + 118;     // 0x476
constexpr uint WM_FULLSCREEN_LEAVE = WM_USER + 119;  // 0x477
constexpr uint WM_FULLSCREEN_ENTER = WM_USER + 120;  // 0x478
constexpr uint WM_DEVICE_RECONNECT = WM_USER + 121;  // 0x479
constexpr uint WM_INPUT_RESOLUTION = WM_USER + 122;  // 0x47A, lParam = resolution index 0..4
constexpr uint WM_SAVE_MAXFILENO = WM_USER + 123;    // 0x47B
constexpr uint WM_CAPTURE_PRESS = WM_USER + 126;     // 0x47E
constexpr uint WM_STATUS_TEXT = WM_USER + 128;       // 0x480, wParam = kind, lParam = value
constexpr uint WM_PHOTOCUT_TOGGLE = WM_USER + 132;   // 0x484
constexpr uint WM_PHOTOCUT_SAVE = WM_USER + 133;     // 0x485
constexpr uint WM_PHOTOCUT_COPY = WM_USER + 136;     // 0x488

// One window message. A receiver recognises it by Type(), handles what it
// knows and leaves the rest to its base class.
class TWindowMessage : public QEvent {
  public:
    TWindowMessage(uint msg, quintptr wParam, qintptr lParam);

    static QEvent::Type Type();

    uint Msg;
    quintptr WParam;
    qintptr LParam;
    qintptr Result = 0;
};

// Delivers the message to target at once, on the GUI thread, and returns the
// handler's result (0 when nobody handled it or target is null).
qintptr SendMessage(QObject* target, uint msg, quintptr wParam = 0, qintptr lParam = 0);

// The program's one main window; null before it is created and after it is
// destroyed.
QWidget* ApplicationMainWindow();
void SetApplicationMainWindow(QWidget* window);
