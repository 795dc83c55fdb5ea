// The two values that outlive a run: the photo folder and the last serial number.
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>

#include "settings/AppPaths.h"
#include "settings/IniFile.h"

namespace {

// A photo name is the folder text followed directly by the file name, so a folder without its
// trailing "/" would put photographs into the parent folder under mangled names.
QString AsFolder(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString ReadStoredSavePath() {
    return ReadIniValue(IniFileName, kSettingsSection, kSavePathKey, DefaultSavePath);
}

// A relative stored folder belongs with the settings file, not with whoever started the program.
QString Resolve(const QString& stored) {
    return QDir::isAbsolutePath(stored) ? stored : AppPath + stored;
}

// The stored folder that the last window show could not use; empty when it could.
QString gStandInFor;

}  // namespace

std::optional<TSavePathFallback> LoadSavePathAtShow() {
    gStandInFor.clear();
    const QString stored = ReadStoredSavePath();
    const QString folder = Resolve(stored);
    // The default folder is made by the first photograph, not by opening the window.
    if (stored.isEmpty() || AsFolder(folder) == DefaultSavePath) {
        SavePath = DefaultSavePath;
        return std::nullopt;
    }
    if (QFileInfo(folder).isDir() || QDir().mkdir(folder)) {
        SavePath = AsFolder(folder);
        return std::nullopt;
    }
    gStandInFor = folder;
    SavePath = DefaultSavePath;
    return TSavePathFallback{folder, DefaultSavePath};
}

void ReadSavePathSetting() {
    const QString stored = ReadStoredSavePath();
    const QString folder = Resolve(stored);
    if (stored.isEmpty() || AsFolder(folder) == DefaultSavePath) {
        SavePath = DefaultSavePath;
    } else if (QFileInfo(folder).isDir()) {
        SavePath = AsFolder(folder);
    } else if (folder == gStandInFor) {
        SavePath = DefaultSavePath;
    } else {
        SavePath = folder;
    }
}

bool SavePathIsStandIn() {
    return !gStandInFor.isEmpty() && SavePath == DefaultSavePath;
}

void WriteSavePathSetting(const QString& path) {
    WriteIniValue(IniFileName, kSettingsSection, kSavePathKey, path);
    // The user's own choice replaces the folder that could not be used.
    gStandInFor.clear();
}

quint32 FileNoFromText(const QString& text) {
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    // Both spellings of a 32-bit value are accepted: the signed one this program writes, and
    // the unsigned one a hand edit may give.
    if (!ok || number < -2147483648LL || number > 4294967295LL) {
        return 0;
    }
    return static_cast<quint32>(number);
}

QString FileNoToText(quint32 counter) {
    return QString::number(static_cast<qint32>(counter));
}

quint32 LoadFileNo(quint32 current) {
    try {
        const std::optional<QString> text =
            TryReadIniValue(IniFileName, kSettingsSection, kMaxFileNoKey, QStringLiteral("0"));
        return text ? FileNoFromText(*text) : current;
    } catch (...) {
        return current;
    }
}

bool StoreFileNo(quint32 counter) {
    try {
        WriteIniValue(IniFileName, kSettingsSection, kMaxFileNoKey, FileNoToText(counter));
        return true;
    } catch (...) {
        // The counter stays in memory; the next photograph tries again.
        return false;
    }
}
