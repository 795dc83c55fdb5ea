// The start-up shared by the window program and the command-line tool.
#include "settings/Startup.h"

#include "lang/LangTable.h"
#include "settings/AppPaths.h"

TStartup StartUp(const QString& executableFolder) {
    InitAppPaths(executableFolder);
    TStartup startup;
    startup.Language = LoadLangTable();
    startup.Devices = std::make_unique<TSysDevEnum>();
    return startup;
}
