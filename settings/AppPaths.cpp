// Process-wide locations: the program folder, the settings file and the photo folder.
#include "settings/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

QString AppPath;
QString IniFileName;
QString SavePath;

namespace {

QString WithTrailingSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// Permission bits say nothing for root and nothing about read-only mounts, so the
// folder counts as writable only when a file can really be created in it.
bool CanCreateFilesIn(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return false;
    }
    QTemporaryFile probe(WithTrailingSlash(folder) + QStringLiteral(".snapix-probe-XXXXXX"));
    return probe.open();
}

}  // namespace

void InitAppPaths(const QString& executableFolder) {
    if (CanCreateFilesIn(executableFolder)) {
        AppPath =
            WithTrailingSlash(QDir::cleanPath(QFileInfo(executableFolder).absoluteFilePath()));
    } else {
        const QString perUser = QDir::homePath() + QStringLiteral("/.local/share/snapix");
        // When even this fails, the first write names the path in its error.
        QDir().mkpath(perUser);
        AppPath = WithTrailingSlash(perUser);
    }
    IniFileName = AppPath + QStringLiteral("snapix.ini");
    SavePath = AppPath;
}
