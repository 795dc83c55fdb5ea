// What every front end of the program sets up before it touches the camera: the
// program folder and settings file, the message table and the list of cameras.
#pragma once

#include <memory>

#include <QString>
#include <QStringList>

#include "capture/SysDevEnum.h"

struct TStartup {
    std::unique_ptr<QStringList> Language;  // the loaded message table
    std::unique_ptr<TSysDevEnum> Devices;   // the cameras, listed once
};

// Sets AppPath, IniFileName and the starting SavePath from the program's folder
// (see settings/AppPaths.h), loads the message table and lists the cameras.
TStartup StartUp(const QString& executableFolder);

// Clears what copies of the program killed while writing left behind: temporary files
// older than a minute in the photo folder and in the settings file's folder. Both front
// ends call it once when they start.
void RemoveLeftoverTempFiles(const QString& photoFolder);
