// A stand-in for the application's main window that records every window
// message sent to it, for testing the panels without the whole window.
#pragma once

#include <functional>
#include <vector>

#include <QWidget>

#include "messages/WindowMessages.h"

class MessageRecorder : public QWidget {
  public:
    struct Sent {
        uint msg;
        quintptr wParam;
        qintptr lParam;
        bool operator==(const Sent&) const = default;
    };

    MessageRecorder() { SetApplicationMainWindow(this); }
    ~MessageRecorder() override { SetApplicationMainWindow(nullptr); }

    // The messages of one kind, in the order they came.
    std::vector<Sent> Of(uint msg) const {
        std::vector<Sent> found;
        for (const Sent& m : messages) {
            if (m.msg == msg) {
                found.push_back(m);
            }
        }
        return found;
    }

    std::vector<Sent> messages;
    // Runs for every message, after it is recorded.
    std::function<void(const Sent&)> onMessage;

  protected:
    bool event(QEvent* event) override {
        if (event->type() != TWindowMessage::Type()) {
            return QWidget::event(event);
        }
        const auto& message = static_cast<TWindowMessage&>(*event);
        messages.push_back({message.Msg, message.WParam, message.LParam});
        if (onMessage) {
            onMessage(messages.back());
        }
        return true;
    }
};

inline void PrintTo(const MessageRecorder::Sent& m, std::ostream* os) {
    *os << "{0x" << std::hex << m.msg << std::dec << ", " << m.wParam << ", " << m.lParam << "}";
}
