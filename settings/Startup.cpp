// The start-up shared by the window program and the command-line tool.
#include "settings/Startup.h"

#include <QFileInfo>

#include "lang/LangTable.h"
#include "photo/TempFile.h"
#include "settings/AppPaths.h"

TStartup StartUp(const QString& executableFolder) {
    InitAppPaths(executableFolder);
    TStartup startup;
    startup.Language = LoadLangTable();
    startup.Devices = std::make_unique<TSysDevEnum>();
    return startup;
}

void RemoveLeftoverTempFiles(const QString& photoFolder) {
    PhotoPipeline::RemoveStaleTempFiles(photoFolder);
    const QString settingsFolder = QFileInfo(IniFileName).absolutePath();
    if (QFileInfo(settingsFolder) != QFileInfo(photoFolder)) {
        PhotoPipeline::RemoveStaleTempFiles(settingsFolder);
    }
}
