// Error boxes and the texts of our own errors.
#include "app/MessageBoxes.h"

#include "app/AppInfo.h"

void ShowErrorBox(QWidget* parent, const QString& text) {
    ShowMessageBox(parent, AppInfo::Title(), text, TMessageBoxKind::Error);
}

void ShowErrorBox(QWidget* parent, const std::exception& error) {
    ShowErrorBox(parent, ErrorText(error));
}

QString ErrorText(const std::exception& error) {
    // Every exception of the program carries its user-facing text as UTF-8.
    return QString::fromUtf8(error.what());
}
