// Error boxes and the texts of our own errors.
#include "app/MessageBoxes.h"

#include "app/AppInfo.h"
#include "capture/DirectShowException.h"
#include "settings/IniFile.h"

void ShowErrorBox(QWidget* parent, const QString& text) {
    ShowMessageBox(parent, AppInfo::Title(), text, TMessageBoxKind::Error);
}

void ShowErrorBox(QWidget* parent, const std::exception& error) {
    ShowErrorBox(parent, ErrorText(error));
}

QString ErrorText(const std::exception& error) {
    if (const auto* device = dynamic_cast<const EDirectShowException*>(&error)) {
        return device->Message();
    }
    if (const auto* ini = dynamic_cast<const EIniWriteError*>(&error)) {
        return ini->message();
    }
    return QString::fromUtf8(error.what());
}
