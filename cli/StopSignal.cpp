// Ctrl-C and SIGTERM for snapix-shot, through a pipe the event loop watches.
#include "cli/StopSignal.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

// Written by the signal handler (async-signal-safe: write only), read on the GUI thread.
int gPipe[2] = {-1, -1};

void OnSignal(int signal) {
    // A second request ends the process the ordinary way for that signal.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TStopSignal::TStopSignal(QObject* owner) : QObject(owner) {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without the pipe the signals keep their default: Ctrl-C ends the tool at once.
        return;
    }
    FNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TStopSignal::Read);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

TStopSignal::~TStopSignal() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    delete FNotifier;
    for (int& fd : gPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void TStopSignal::Read() {
    char bytes[16];
    while (::read(gPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (!FRequested) {
        FRequested = true;
        if (OnRequested) {
            OnRequested();
        }
    }
}

// The meta-object code of this file's classes lives here, not in a shared object file
// that would tie every program using them to every other class of the core.
#include "moc_StopSignal.cpp"
