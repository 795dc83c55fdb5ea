// Window messages as synchronous Qt events.
#include "messages/WindowMessages.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

namespace {
// Cleared by Qt when the window goes, so a late sender finds nothing rather
// than a destroyed window.
QPointer<QWidget> gMainWindow;
}  // namespace

TWindowMessage::TWindowMessage(uint msg, quintptr wParam, qintptr lParam)
    : QEvent(Type()), Msg(msg), WParam(wParam), LParam(lParam) {}

QEvent::Type TWindowMessage::Type() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

qintptr SendMessage(QObject* target, uint msg, quintptr wParam, qintptr lParam) {
    if (!target) {
        return 0;
    }
    TWindowMessage message(msg, wParam, lParam);
    QCoreApplication::sendEvent(target, &message);
    return message.Result;
}

QWidget* ApplicationMainWindow() {
    return gMainWindow.data();
}

void SetApplicationMainWindow(QWidget* window) {
    gMainWindow = window;
}
