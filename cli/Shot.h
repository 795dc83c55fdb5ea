// Running snapix-shot: the camera list, and the photographs a command line asks for,
// taken through the capture component exactly as the window takes them.
#pragma once

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include <QString>

#include "cli/ShotOptions.h"

// Exit statuses.
inline constexpr int kExitStored = 0;  // every photograph asked for was stored
inline constexpr int kExitFailed = 1;  // one or more were not; the reason was printed
inline constexpr int kExitUsage = 2;   // the command line is wrong

// Prints text and a line break as UTF-8 and flushes, so that each line reaches a pipe
// when it is said. False, with the system's reason in `why`, when the stream did not
// take it all (a full disk, a reader gone); a null stream stands for a closed one.
bool PrintLine(FILE* stream, const QString& text, QString* why = nullptr);

// Whether a camera's exposure has settled, from the mean brightness (0..255) of the
// pictures looked at so far: (milliseconds since the first, mean), oldest first, the
// last one looked at `now`. Settled when, from the last look at or before the 300 ms
// before `now` on, the brightness moved by less than 1.5 levels.
bool ExposureSettled(const std::vector<std::pair<double, double>>& means, double now);

// Runs the List or Shoot action on the thread that has (or will have) the application.
// Captions draw text, which needs a QGuiApplication: either one runs already, or
// startApplication makes it, called once, as soon as the camera streams (its first
// picture is a frame period or more away) or before the camera list. executableFolder
// decides AppPath and so snapix.ini. `out` null means standard output is closed: the
// paths of photographs cannot be given, which fails the run after the first one.
int RunShot(const TShotOptions& options, const QString& executableFolder, FILE* out, FILE* err,
            const std::function<void()>& startApplication = {});
