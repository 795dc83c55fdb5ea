// Process-wide locations: the settings file and language files, the default and the current
// photo folder.
#pragma once

#include <QString>

// The program's reverse-DNS id on the desktop: the name of its desktop entry, its icon and its
// AppStream data, and the id the window announces to the window system.
inline constexpr char kDesktopId[] = SNAPIX_APP_ID;

// Folder of snapix.ini and the language files; always ends with "/". Fixed once InitAppPaths has
// run.
extern QString AppPath;
// AppPath + "snapix.ini" (for one run the older per-user file, see InitAppPaths). Fixed once
// InitAppPaths has run.
extern QString IniFileName;
// The photo folder when the settings name none, or name one that cannot be used; ends with "/".
// Not made until a photograph goes there (MakeDefaultSavePath).
extern QString DefaultSavePath;
// Photo folder in effect for this run (see settings/SettingsStore.h for how it changes).
extern QString SavePath;

// An installed copy is one whose folder this user cannot create files in (a system prefix), or
// one that sits in a prefix with its own desktop entry (bin/ beside
// share/applications/<id>.desktop: ~/.local after an install from source, /usr for root). Any
// other copy is portable and keeps everything in its own folder.
bool IsInstalledCopy(const QString& executableFolder);

// Sets AppPath, IniFileName and DefaultSavePath, and starts SavePath at DefaultSavePath so nothing
// sees an empty photo folder before the settings have been read.
//  - A portable copy: all three are the executable's folder.
//  - An installed copy: AppPath is $XDG_CONFIG_HOME/snapix/ (made; ~/.config/snapix/ by default),
//    and DefaultSavePath the user's Pictures folder (as xdg-user-dirs names it) + "Snapix/".
//    When that settings file does not exist yet, one left in ~/.local/share/snapix/ by an earlier
//    version is copied over (the old file stays where it is); when the copy cannot be made, the
//    old file itself is this run's settings file, so its values are never lost.
// Cheap enough to run before any application object exists (snapix-shot does).
void InitAppPaths(const QString& executableFolder);

// Makes the default photo folder, with its parents (a new account may have no Pictures folder
// yet), when SavePath is that folder and it is missing. A folder that cannot be made is left to
// the photograph's write, which names the reason.
void MakeDefaultSavePath();
