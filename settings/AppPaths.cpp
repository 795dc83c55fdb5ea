// Process-wide locations: the settings file and language files, the default and the current
// photo folder.
#include "settings/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "settings/IniFile.h"

QString AppPath;
QString IniFileName;
QString DefaultSavePath;
QString SavePath;

namespace {

const QString kIniName = QStringLiteral("snapix.ini");

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

bool ExistsOrIsLink(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Where versions before the per-user config folder kept the settings of an installed copy.
QString OlderPerUserIni() {
    return QDir::homePath() + QStringLiteral("/.local/share/snapix/") + kIniName;
}

void UseInstalledLocations() {
    // Both follow the XDG variables and xdg-user-dirs (a Pictures folder of another name or
    // language), falling back to ~/.config and ~/Pictures.
    AppPath = WithTrailingSlash(
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        QStringLiteral("/snapix")));
    DefaultSavePath = WithTrailingSlash(
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) +
                        QStringLiteral("/Snapix")));
    // When even this fails, the first write names the path in its error.
    QDir().mkpath(AppPath);
    IniFileName = AppPath + kIniName;

    // Only a plain file is carried over: a pipe or a device there holds no settings.
    const QString older = OlderPerUserIni();
    if (!ExistsOrIsLink(IniFileName) && QFileInfo(older).isFile() &&
        !CopyIniFile(older, IniFileName)) {
        // Written nowhere else, the older file keeps serving: its photo folder and serial
        // counter go on, and the next run tries the copy again.
        IniFileName = older;
    }
}

}  // namespace

bool IsInstalledCopy(const QString& executableFolder) {
    return QFileInfo::exists(executableFolder + QStringLiteral("/../share/applications/") +
                             QLatin1String(kDesktopId) + QStringLiteral(".desktop")) ||
           !CanCreateFilesIn(executableFolder);
}

void InitAppPaths(const QString& executableFolder) {
    if (IsInstalledCopy(executableFolder)) {
        UseInstalledLocations();
    } else {
        AppPath =
            WithTrailingSlash(QDir::cleanPath(QFileInfo(executableFolder).absoluteFilePath()));
        IniFileName = AppPath + kIniName;
        DefaultSavePath = AppPath;
    }
    SavePath = DefaultSavePath;
}

void MakeDefaultSavePath() {
    if (SavePath == DefaultSavePath && !QFileInfo(SavePath).isDir()) {
        QDir().mkpath(SavePath);
    }
}
