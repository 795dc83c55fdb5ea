// Process-wide locations: the program folder, the settings file and the photo folder.
#pragma once

#include <QString>

// Program folder; always ends with "/". Fixed once InitAppPaths has run.
extern QString AppPath;
// AppPath + "snapix.ini". Fixed once InitAppPaths has run.
extern QString IniFileName;
// Photo folder in effect for this run (see settings/SettingsStore.h for how it changes).
extern QString SavePath;

// Program-folder rule: executableFolder + "/" when files can be created in that folder (a portable
// copy), else ~/.local/share/snapix/ (created). Sets AppPath and IniFileName, and starts SavePath
// at AppPath so nothing ever sees an empty photo folder before the window has read the settings.
void InitAppPaths(const QString& executableFolder);
