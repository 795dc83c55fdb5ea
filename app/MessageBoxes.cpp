// Message boxes through one seam.
#include "app/MessageBoxes.h"

#include <QMessageBox>

#include "app/AppInfo.h"

namespace {
TMessageBoxRecorder& Recorder() {
    static TMessageBoxRecorder recorder;
    return recorder;
}

void Show(QWidget* parent, TMessageBoxKind kind, const QString& caption, const QString& text) {
    if (Recorder()) {
        Recorder()({kind, caption, text});
        return;
    }
    QMessageBox box(kind == TMessageBoxKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    caption, text, QMessageBox::Ok, parent);
    box.exec();
}
}  // namespace

void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text) {
    Show(parent, TMessageBoxKind::Plain, caption, text);
}

void ShowErrorBox(QWidget* parent, const QString& text) {
    Show(parent, TMessageBoxKind::Error, AppInfo::Title(), text);
}

void ShowErrorBox(QWidget* parent, const std::exception& error) {
    ShowErrorBox(parent, ErrorText(error));
}

QString ErrorText(const std::exception& error) {
    // Every exception of the program carries its user-facing text as UTF-8.
    return QString::fromUtf8(error.what());
}

void SetMessageBoxRecorder(TMessageBoxRecorder recorder) {
    Recorder() = std::move(recorder);
}
