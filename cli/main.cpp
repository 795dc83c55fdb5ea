// Entry point of snapix-shot: photographs from the command line, without a display.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

#include "cli/Shot.h"
#include "cli/ShotOptions.h"

namespace {

// Gives each closed standard descriptor (0, 1, 2) to /dev/null, so that no file or camera
// the tool opens later takes its number and receives what is meant for the terminal.
// Returns whether standard output was closed: what the tool would print there is lost.
bool ReserveStandardDescriptors() {
    bool outputClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        outputClosed = outputClosed || fd == STDOUT_FILENO;
        // The lower descriptors are open by now, so this one is the lowest free.
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return outputClosed;
}

// Prints a text that is the whole answer (help, version): exit 1 with the reason when
// standard output does not take it.
int PrintAnswer(FILE* out, const QString& text) {
    QString why;
    if (!PrintLine(out, text.endsWith(QLatin1Char('\n')) ? text.chopped(1) : text, &why)) {
        PrintLine(stderr, QStringLiteral("snapix-shot: cannot write to standard output: ") + why);
        return kExitFailed;
    }
    return kExitStored;
}

}  // namespace

int main(int argc, char** argv) {
    FILE* const out = ReserveStandardDescriptors() ? nullptr : stdout;
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
        return PrintAnswer(out, ShotHelpText());
    }
    if (parsed.Options.Action == TShotAction::Version) {
        return PrintAnswer(out, ShotVersionText());
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
    int status = RunShot(parsed.Options, executableFolder, out, stderr, startApplication);
    // Every line was flushed as it was said; a file system may still report a failed
    // write only when the file is closed.
    if (out && std::fclose(out) != 0 && status == kExitStored) {
        PrintLine(stderr, QStringLiteral("snapix-shot: cannot write to standard output: ") +
                              qt_error_string(errno));
        status = kExitFailed;
    }
    // Everything is written and closed. Tearing the application down would only cost
    // time: Qt's font database, when no caption asked it for a font, reads the whole
    // fontconfig set-up at that moment just to free it (some 4 ms of a 75 ms photograph).
    std::fflush(stderr);
    std::_Exit(status);
}
