// The program's name, version and the one-line description shown to users.
#pragma once

#include <QString>

class QTranslator;

namespace AppInfo {

// Window caption and tray hint.
QString Title();
QString Version();
// One line on what the program does, for the information panel.
QString Description();

// Qt's own texts (the buttons and titles of standard dialogs) in Chinese, as the rest of the
// window is, whatever the user's locale. Returns the installed translator, owned by the
// application object (deleting it uninstalls it), or nullptr, having changed nothing, when
// Qt's translations are not installed: the dialogs then speak English.
QTranslator* InstallQtTranslation();

}  // namespace AppInfo
