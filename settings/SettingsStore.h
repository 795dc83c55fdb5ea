// The two values that outlive a run: the photo folder and the last serial number.
#pragma once

#include <optional>

#include <QString>

inline const QString kSettingsSection = QStringLiteral("Snapix");
inline const QString kSavePathKey = QStringLiteral("SavePath");
inline const QString kMaxFileNoKey = QStringLiteral("MaxFileNo");

// A stored photo folder that could not be used at window show, and what this run uses instead.
struct TSavePathFallback {
    QString Unusable;     // the stored folder, relative names completed with AppPath
    QString UsedInstead;  // DefaultSavePath
};

// Photo folder at window show: the global SavePath becomes the stored folder (default
// DefaultSavePath, see settings/AppPaths.h). An empty value means DefaultSavePath; a relative one
// is taken relative to AppPath (the settings file's folder), whatever the working folder. A folder
// that does not exist is created, one level only, except the default folder, which the first
// photograph makes. A value that names a folder is used with "/" appended when it lacks one; the
// file itself is never changed.
// When the folder neither exists nor can be created (a drive not mounted, a missing parent, a file
// of that name), SavePath becomes DefaultSavePath for this run and the fallback is returned; the
// stored value stays, so the folder is used again once it is back.
std::optional<TSavePathFallback> LoadSavePathAtShow();

// The base step of committing the photo folder: the global SavePath := the stored folder (default
// DefaultSavePath, also for an empty value; relative to AppPath), with "/" appended when the value
// names a folder without it. While the stored folder is the one the last show could not use and
// still cannot be used, SavePath stays DefaultSavePath.
void ReadSavePathSetting();

// Whether SavePath is only this run's stand-in for a stored folder that cannot be used; storing it
// would lose the user's folder.
bool SavePathIsStandIn();

// Stores a photo folder under "SavePath". Throws EIniWriteError.
void WriteSavePathSetting(const QString& path);

// The counter is 32-bit unsigned in the program and signed decimal text in the file, so the same
// 32 bits are kept both ways: "-1" reads as 4294967295 and 2147483648 is written as
// "-2147483648". Text that is not a whole number within 32 bits reads as 0.
quint32 FileNoFromText(const QString& text);
QString FileNoToText(quint32 counter);

// The stored "MaxFileNo" (default "0"). When the settings file exists but cannot be read, returns
// `current` unchanged rather than restarting the series.
quint32 LoadFileNo(quint32 current);

// Stores the counter under "MaxFileNo"; false when that failed (nothing is thrown: the file keeps
// its old value).
bool StoreFileNo(quint32 counter);
