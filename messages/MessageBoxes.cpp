// Message boxes through one seam.
#include "messages/MessageBoxes.h"

#include <QMessageBox>

namespace {
TMessageBoxRecorder& Recorder() {
    static TMessageBoxRecorder recorder;
    return recorder;
}

QMessageBox::Icon IconOf(TMessageBoxKind kind) {
    switch (kind) {
        case TMessageBoxKind::Error:
            return QMessageBox::Critical;
        case TMessageBoxKind::Information:
            return QMessageBox::Information;
        case TMessageBoxKind::Plain:
            break;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text,
                    TMessageBoxKind kind) {
    if (Recorder()) {
        Recorder()({kind, caption, text});
        return;
    }
    QMessageBox box(IconOf(kind), caption, text, QMessageBox::Ok, parent);
    box.exec();
}

void SetMessageBoxRecorder(TMessageBoxRecorder recorder) {
    Recorder() = std::move(recorder);
}
