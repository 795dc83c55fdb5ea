// Entry point of snapix-shot: photographs from the command line, without a display.
#include <csignal>
#include <cstdio>
#include <optional>

#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

#include "cli/Shot.h"
#include "cli/ShotOptions.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const TShotParse parsed = ParseShotOptions(arguments);
    if (!parsed.Ok()) {
        PrintLine(stderr, QStringLiteral("snapix-shot: ") + parsed.Error);
        PrintLine(stderr, QStringLiteral("Try 'snapix-shot --help' for more information."));
        return kExitUsage;
    }
    if (parsed.Options.Action == TShotAction::Help) {
        std::fputs(ShotHelpText().toUtf8().constData(), stdout);
        return kExitStored;
    }
    if (parsed.Options.Action == TShotAction::Version) {
        std::fputs(ShotVersionText().toUtf8().constData(), stdout);
        return kExitStored;
    }

    // A reader that closes standard output early must not end the tool between storing
    // a photograph and storing its serial number.
    std::signal(SIGPIPE, SIG_IGN);

    // Captions need fonts, which need a GUI application; the offscreen platform gives
    // one without X or Wayland, whatever the environment names. The user's arguments
    // are this tool's alone and are not handed to Qt. It is made while the camera's first
    // picture is on its way.
    int qtArgc = 3;
    char platformFlag[] = "-platform";
    char platformName[] = "offscreen";
    char* qtArgv[] = {argv[0], platformFlag, platformName, nullptr};
    std::optional<QGuiApplication> app;
    const auto startApplication = [&] {
        // While the application starts, Qt looks for desktop sessions (and warns of a
        // missing XDG_RUNTIME_DIR); none of that concerns this tool's user.
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& message) {
                if (type == QtCriticalMsg || type == QtFatalMsg) {
                    PrintLine(stderr, QStringLiteral("snapix-shot: ") + message);
                }
            });
        app.emplace(qtArgc, qtArgv);
        qInstallMessageHandler(previous);
    };
    // The program's folder as Qt would give it, read before Qt runs.
    const QString executableFolder = QFileInfo(QStringLiteral("/proc/self/exe"))
                                         .canonicalFilePath()
                                         .section(QLatin1Char('/'), 0, -2);
    return RunShot(parsed.Options, executableFolder, stdout, stderr, startApplication);
}
