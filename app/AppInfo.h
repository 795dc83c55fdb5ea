// The program's name, version and the one-line description shown to users.
#pragma once

#include <QString>

namespace AppInfo {

// Window caption and tray hint.
QString Title();
QString Version();
// One line on what the program does, for the information panel.
QString Description();

}  // namespace AppInfo
