// libsnapix-vcam.so's entry points: the C library functions through which a V4L2 program
// reaches a device, standing in for the library's own so that one device node answers as
// the virtual camera. Each one hands the node's paths and descriptors to TNode and passes
// everything else to the C library untouched.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "vcam/Node.h"
#include "vcam/RealCalls.h"
#include "vcam/UserCopy.h"

// The C library's older stat entry points, which programs built against it before
// version 2.33 still call; its headers no longer declare them.
extern "C" {
int __xstat(int, const char*, struct stat*);
int __xstat64(int, const char*, struct stat64*);
int __lxstat(int, const char*, struct stat*);
int __lxstat64(int, const char*, struct stat64*);
int __fxstat(int, int, struct stat*);
int __fxstat64(int, int, struct stat64*);
int __fxstatat(int, int, const char*, struct stat*, int);
int __fxstatat64(int, int, const char*, struct stat64*, int);
int __open_2(const char*, int);
int __open64_2(const char*, int);
int __openat_2(int, const char*, int);
int __openat64_2(int, const char*, int);
int __poll_chk(pollfd*, nfds_t, int, unsigned long);
int __ppoll_chk(pollfd*, nfds_t, const timespec*, const sigset_t*, unsigned long);
}

using vcam::preload::gOpenDescriptors;
using vcam::preload::InsideCamera;
using vcam::preload::ReadUser;
using vcam::preload::ReadUserString;
using vcam::preload::TNode;
using vcam::preload::WriteUser;

namespace {

// -errno (or a result) as the C library answers: -1 with errno set.
int Answer(int result) {
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

// The node, when `path` may name it or one of its sysfs files: only /dev and /sys paths
// are looked at. `copy` is the path, read without trusting the address: one the program
// may not read is left to the C library, which answers EFAULT.
TNode* NodeForPath(const char* path, std::string& copy) {
    char head[4];
    if (InsideCamera() || !path || !ReadUser(path, head, sizeof head) ||
        (std::memcmp(head, "/dev", 4) != 0 && std::memcmp(head, "/sys", 4) != 0) ||
        !ReadUserString(path, copy, PATH_MAX)) {
        return nullptr;
    }
    return TNode::Instance();
}

// The node, when `fd` is one of its descriptors.
TNode* NodeForFd(int fd) {
    if (InsideCamera() || gOpenDescriptors.load(std::memory_order_acquire) == 0) {
        return nullptr;
    }
    TNode* node = TNode::Instance();
    return node && node->CameraFd(fd) >= 0 ? node : nullptr;
}

// Opening the node or one of its sysfs files; 1 when `path` is neither.
int OpenNode(const char* path, int flags) {
    std::string copy;
    TNode* node = NodeForPath(path, copy);
    if (!node) {
        return 1;
    }
    if (node->IsNode(copy.c_str())) {
        return node->Open(flags);
    }
    return node->SysFile(copy.c_str());
}

bool TakesMode(int flags) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

// A timeout in milliseconds as poll takes it, rounded up; -1 for none.
int Milliseconds(const timespec* t) {
    if (!t) {
        return -1;
    }
    const long long ms = (static_cast<long long>(t->tv_sec) * 1000000000LL + t->tv_nsec + 999999) /
                         1000000;
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

// The entries of a poll, read without trusting the address, when one of them is the
// camera's; false leaves the call to the C library (which answers EFAULT for a bad one).
bool PollsTheNode(const pollfd* fds, nfds_t count, std::vector<pollfd>& copy) {
    if (InsideCamera() || gOpenDescriptors.load(std::memory_order_acquire) == 0 ||
        count > nfds_t(INT_MAX) / sizeof(pollfd)) {
        return false;
    }
    copy.resize(count);
    TNode* node = TNode::Instance();
    return node && ReadUser(fds, copy.data(), count * sizeof(pollfd)) &&
           std::any_of(copy.begin(), copy.end(),
                       [node](const pollfd& p) { return node->CameraFd(p.fd) >= 0; });
}

// The node's poll over the copy, its answers written back.
int PollNode(pollfd* fds, std::vector<pollfd>& copy, int timeoutMs) {
    const int r = TNode::Instance()->Poll(copy.data(), copy.size(), timeoutMs);
    if (r >= 0 && !WriteUser(fds, copy.data(), copy.size() * sizeof(pollfd))) {
        return -EFAULT;
    }
    return r;
}

// select's sets, read without trusting their addresses (a bad one is left to the C
// library, which answers EFAULT), when one of their descriptors is the camera's.
struct TSets {
    fd_set sets[3];
    bool given[3];
};

bool SelectsTheNode(int n, fd_set* read, fd_set* write, fd_set* except, TSets& copy) {
    if (InsideCamera() || gOpenDescriptors.load(std::memory_order_acquire) == 0 || n <= 0) {
        return false;
    }
    n = std::min(n, FD_SETSIZE);
    fd_set* sets[3] = {read, write, except};
    for (int k = 0; k < 3; ++k) {
        FD_ZERO(&copy.sets[k]);
        copy.given[k] = sets[k] != nullptr;
        if (sets[k] && !ReadUser(sets[k], &copy.sets[k], std::size_t(n + 7) / 8)) {
            return false;
        }
    }
    TNode* node = TNode::Instance();
    for (int fd = 0; node && fd < n; ++fd) {
        for (int k = 0; k < 3; ++k) {
            if (copy.given[k] && FD_ISSET(fd, &copy.sets[k]) && node->CameraFd(fd) >= 0) {
                return true;
            }
        }
    }
    return false;
}

// select answered by the node's poll: readable includes errors and hang-ups, as the
// kernel's select counts them; the sets written back.
int SelectThroughPoll(int n, fd_set* read, fd_set* write, fd_set* except, TSets& copy,
                      int timeoutMs) {
    n = std::min(n, FD_SETSIZE);
    std::vector<pollfd> fds;
    for (int fd = 0; fd < n; ++fd) {
        short events = 0;
        events |= copy.given[0] && FD_ISSET(fd, &copy.sets[0]) ? POLLIN : 0;
        events |= copy.given[1] && FD_ISSET(fd, &copy.sets[1]) ? POLLOUT : 0;
        events |= copy.given[2] && FD_ISSET(fd, &copy.sets[2]) ? POLLPRI : 0;
        if (events) {
            fds.push_back({fd, events, 0});
        }
    }
    const int result = TNode::Instance()->Poll(fds.data(), fds.size(), timeoutMs);
    if (result < 0) {
        return Answer(result);
    }
    int ready = 0;
    for (fd_set& set : copy.sets) {
        FD_ZERO(&set);
    }
    for (const pollfd& p : fds) {
        const short r = p.revents;
        const bool answers[3] = {
            (p.events & POLLIN) && (r & (POLLIN | POLLHUP | POLLERR | POLLNVAL)),
            (p.events & POLLOUT) && (r & (POLLOUT | POLLERR | POLLNVAL)),
            (p.events & POLLPRI) && (r & POLLPRI)};
        for (int k = 0; k < 3; ++k) {
            if (answers[k]) {
                FD_SET(p.fd, &copy.sets[k]);
                ++ready;
            }
        }
    }
    fd_set* sets[3] = {read, write, except};
    for (int k = 0; k < 3; ++k) {
        if (sets[k] && !WriteUser(sets[k], &copy.sets[k], std::size_t(n + 7) / 8)) {
            return Answer(-EFAULT);
        }
    }
    return ready;
}

// dup2/dup3 onto `target`: a descriptor of the camera there is closed first, as the
// kernel closes whatever it replaces.
void Replacing(int target) {
    if (TNode* node = NodeForFd(target)) {
        node->Close(target);
    }
}

int Duplicated(int fd, int copy) {
    if (copy >= 0) {
        if (TNode* node = NodeForFd(fd)) {
            node->Duplicated(fd, copy);
        }
    }
    return copy;
}

// The /dev listings a program reads: the node is one of their entries.
struct TListing {
    bool listed = false;
    dirent64 entry{};
};
std::mutex gListingMutex;
std::map<DIR*, TListing> gListings;

void* ListedNode(DIR* dir, void* next) {
    std::lock_guard lock(gListingMutex);
    const auto it = gListings.find(dir);
    if (it == gListings.end()) {
        return next;
    }
    TListing& listing = it->second;
    TNode* node = TNode::Instance();
    if (next) {
        if (node->Name() == static_cast<dirent64*>(next)->d_name) {
            listing.listed = true;  // a real node of the same name: listed once
        }
        return next;
    }
    if (listing.listed) {
        return nullptr;
    }
    listing.listed = true;
    listing.entry = {};
    listing.entry.d_ino = 1;
    listing.entry.d_type = DT_CHR;
    listing.entry.d_reclen = sizeof listing.entry;
    std::snprintf(listing.entry.d_name, sizeof listing.entry.d_name, "%s", node->Name().c_str());
    return &listing.entry;
}

// The node's stat answer, written without trusting the address.
template <class TStat>
int GiveStat(const TNode& node, TStat* st) {
    static_assert(sizeof(TStat) == sizeof(struct stat));
    struct stat answer;
    node.Stat(answer);
    return WriteUser(st, &answer, sizeof answer) ? 0 : Answer(-EFAULT);
}

template <class TStat>
int StatPath(const char* path, TStat* st) {
    std::string copy;
    TNode* node = NodeForPath(path, copy);
    return node && node->IsNode(copy.c_str()) ? GiveStat(*node, st) : 1;
}

template <class TStat>
int StatFd(int fd, TStat* st) {
    TNode* node = NodeForFd(fd);
    return node ? GiveStat(*node, st) : 1;
}

// Whether `path` is the empty string of fstatat's AT_EMPTY_PATH.
bool EmptyPath(const char* path, int flags) {
    char first = 1;
    return (flags & AT_EMPTY_PATH) && path && ReadUser(path, &first, 1) && first == 0;
}

// fstatat's ways: a path, or the descriptor itself with an empty path.
template <class TStat>
int StatAt(int dirfd, const char* path, TStat* st, int flags) {
    return EmptyPath(path, flags) ? StatFd(dirfd, st) : StatPath(path, st);
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

// ------------------------------------------------------------------ open

// The mode open and openat take after `flags` when the flags create a file.
#define MODE_AFTER(flags)                  \
    mode_t mode = 0;                       \
    if (TakesMode(flags)) {                \
        va_list ap;                        \
        va_start(ap, flags);               \
        mode = va_arg(ap, mode_t);         \
        va_end(ap);                        \
    }

#define OPEN_WITH_MODE(name)                                       \
    EXPORT int name(const char* path, int flags, ...) {            \
        MODE_AFTER(flags)                                          \
        const int r = OpenNode(path, flags);                       \
        return r != 1 ? Answer(r) : REAL(name)(path, flags, mode); \
    }
OPEN_WITH_MODE(open)
OPEN_WITH_MODE(open64)

#define OPENAT_WITH_MODE(name)                                            \
    EXPORT int name(int dirfd, const char* path, int flags, ...) {        \
        MODE_AFTER(flags)                                                 \
        const int r = OpenNode(path, flags);                              \
        return r != 1 ? Answer(r) : REAL(name)(dirfd, path, flags, mode); \
    }
OPENAT_WITH_MODE(openat)
OPENAT_WITH_MODE(openat64)

#define OPEN_CHECKED(name)                                   \
    EXPORT int name(const char* path, int flags) {           \
        const int r = OpenNode(path, flags);                 \
        return r != 1 ? Answer(r) : REAL(name)(path, flags); \
    }
OPEN_CHECKED(__open_2)
OPEN_CHECKED(__open64_2)

#define OPENAT_CHECKED(name)                                        \
    EXPORT int name(int dirfd, const char* path, int flags) {       \
        const int r = OpenNode(path, flags);                        \
        return r != 1 ? Answer(r) : REAL(name)(dirfd, path, flags); \
    }
OPENAT_CHECKED(__openat_2)
OPENAT_CHECKED(__openat64_2)

#define FOPEN(name)                                                                   \
    EXPORT FILE* name(const char* path, const char* mode) {                           \
        std::string copy;                                                             \
        TNode* node = NodeForPath(path, copy);                                        \
        const int fd = node && !node->IsNode(copy.c_str()) ? node->SysFile(copy.c_str()) : 1; \
        if (fd == 1) {                                                                \
            return REAL(name)(path, mode);                                            \
        }                                                                             \
        if (fd < 0) {                                                                 \
            errno = -fd;                                                              \
            return nullptr;                                                           \
        }                                                                             \
        FILE* file = ::fdopen(fd, "r");                                               \
        if (!file) {                                                                  \
            const int error = errno;                                                  \
            REAL(close)(fd);                                                          \
            errno = error;                                                            \
        }                                                                             \
        return file;                                                                  \
    }
FOPEN(fopen)
FOPEN(fopen64)

EXPORT int access(const char* path, int mode) noexcept {
    std::string copy;
    TNode* node = NodeForPath(path, copy);
    if (node && node->IsNode(copy.c_str())) {
        return Answer((mode & X_OK) ? -EACCES : 0);
    }
    return REAL(access)(path, mode);
}

EXPORT int faccessat(int dirfd, const char* path, int mode, int flags) noexcept {
    std::string copy;
    TNode* node = NodeForPath(path, copy);
    if (node && node->IsNode(copy.c_str())) {
        return Answer((mode & X_OK) ? -EACCES : 0);
    }
    return REAL(faccessat)(dirfd, path, mode, flags);
}

// --------------------------------------------------------- descriptors

EXPORT int close(int fd) {
    if (TNode* node = NodeForFd(fd)) {
        return Answer(node->Close(fd));
    }
    return REAL(close)(fd);
}

EXPORT int dup(int fd) noexcept {
    return Duplicated(fd, REAL(dup)(fd));
}

EXPORT int dup2(int fd, int target) noexcept {
    if (fd != target) {
        Replacing(target);
    }
    return fd == target ? REAL(dup2)(fd, target) : Duplicated(fd, REAL(dup2)(fd, target));
}

EXPORT int dup3(int fd, int target, int flags) noexcept {
    if (fd != target) {
        Replacing(target);
    }
    return Duplicated(fd, REAL(dup3)(fd, target, flags));
}

#define FCNTL(name)                                                             \
    EXPORT int name(int fd, int command, ...) {                                 \
        va_list ap;                                                             \
        va_start(ap, command);                                                  \
        void* arg = va_arg(ap, void*);                                          \
        va_end(ap);                                                             \
        const int r = REAL(name)(fd, command, arg);                             \
        return command == F_DUPFD || command == F_DUPFD_CLOEXEC ? Duplicated(fd, r) : r; \
    }
FCNTL(fcntl)
FCNTL(fcntl64)

EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (TNode* node = NodeForFd(fd)) {
        return Answer(node->Ioctl(fd, request, arg));
    }
    return REAL(ioctl)(fd, request, arg);
}

#define MMAP(name)                                                                       \
    EXPORT void* name(void* address, size_t length, int prot, int flags, int fd,        \
                      off_t offset) noexcept {                                          \
        TNode* node = NodeForFd(fd);                                                     \
        if (!node) {                                                                     \
            return REAL(name)(address, length, prot, flags, fd, offset);                 \
        }                                                                                \
        int error = 0;                                                                   \
        void* p = (flags & MAP_FIXED) ? nullptr                                          \
                                      : node->Mmap(length, prot, flags, fd, offset, &error); \
        if (!p) {                                                                        \
            errno = (flags & MAP_FIXED) ? EINVAL : -error;                               \
            return MAP_FAILED;                                                           \
        }                                                                                \
        return p;                                                                        \
    }
MMAP(mmap)
MMAP(mmap64)

EXPORT int munmap(void* address, size_t length) noexcept {
    // Buffers stay mapped after their descriptor closes, so any address may be one.
    if (!InsideCamera() && vcam::preload::gCameraMade.load(std::memory_order_acquire)) {
        if (TNode* node = TNode::Instance(); node && node->Munmap(address, length) == 0) {
            return 0;
        }
    }
    return REAL(munmap)(address, length);
}

// The camera streams through buffers it maps; it has no read or write I/O.
EXPORT ssize_t read(int fd, void* buffer, size_t size) {
    if (NodeForFd(fd)) {
        return Answer(-EINVAL);
    }
    return REAL(read)(fd, buffer, size);
}

EXPORT ssize_t write(int fd, const void* buffer, size_t size) {
    if (NodeForFd(fd)) {
        return Answer(-EINVAL);
    }
    return REAL(write)(fd, buffer, size);
}

// ---------------------------------------------------------------- waiting

EXPORT int poll(pollfd* fds, nfds_t count, int timeoutMs) {
    std::vector<pollfd> copy;
    if (PollsTheNode(fds, count, copy)) {
        return Answer(PollNode(fds, copy, timeoutMs));
    }
    return REAL(poll)(fds, count, timeoutMs);
}

EXPORT int __poll_chk(pollfd* fds, nfds_t count, int timeoutMs, unsigned long) {
    return poll(fds, count, timeoutMs);
}

EXPORT int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    std::vector<pollfd> copy;
    timespec t{};
    if (!PollsTheNode(fds, count, copy) || (timeout && !ReadUser(timeout, &t, sizeof t))) {
        return REAL(ppoll)(fds, count, timeout, mask);
    }
    sigset_t before;
    if (mask) {
        ::pthread_sigmask(SIG_SETMASK, mask, &before);
    }
    const int r = PollNode(fds, copy, Milliseconds(timeout ? &t : nullptr));
    if (mask) {
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    return Answer(r);
}

EXPORT int __ppoll_chk(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask,
                       unsigned long) {
    return ppoll(fds, count, timeout, mask);
}

EXPORT int select(int n, fd_set* read, fd_set* write, fd_set* except, timeval* timeout) {
    TSets copy;
    timeval asked{};
    if (!SelectsTheNode(n, read, write, except, copy) ||
        (timeout && !ReadUser(timeout, &asked, sizeof asked))) {
        return REAL(select)(n, read, write, except, timeout);
    }
    const timespec t{asked.tv_sec, asked.tv_usec * 1000};
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const int r = SelectThroughPoll(n, read, write, except, copy, Milliseconds(timeout ? &t : nullptr));
    if (timeout) {
        // Linux leaves the time not slept in the timeout.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = (t.tv_sec - (now.tv_sec - start.tv_sec)) * 1000000LL +
                               (t.tv_nsec - (now.tv_nsec - start.tv_nsec)) / 1000;
        const long long us = std::max(left, 0LL);
        const timeval rest{time_t(us / 1000000), suseconds_t(us % 1000000)};
        WriteUser(timeout, &rest, sizeof rest);
    }
    return r;
}

EXPORT int pselect(int n, fd_set* read, fd_set* write, fd_set* except, const timespec* timeout,
                   const sigset_t* mask) {
    TSets copy;
    timespec t{};
    if (!SelectsTheNode(n, read, write, except, copy) ||
        (timeout && !ReadUser(timeout, &t, sizeof t))) {
        return REAL(pselect)(n, read, write, except, timeout, mask);
    }
    sigset_t before;
    if (mask) {
        ::pthread_sigmask(SIG_SETMASK, mask, &before);
    }
    const int r =
        SelectThroughPoll(n, read, write, except, copy, Milliseconds(timeout ? &t : nullptr));
    if (mask) {
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    return r;
}

// ------------------------------------------------------------------- stat

#define STAT_PATH(name, type)                                 \
    EXPORT int name(const char* path, type* st) noexcept {    \
        const int r = StatPath(path, st);                     \
        return r != 1 ? r : REAL(name)(path, st);             \
    }
STAT_PATH(stat, struct stat)
STAT_PATH(stat64, struct stat64)
STAT_PATH(lstat, struct stat)
STAT_PATH(lstat64, struct stat64)

#define STAT_FD(name, type)                          \
    EXPORT int name(int fd, type* st) noexcept {     \
        const int r = StatFd(fd, st);                \
        return r != 1 ? r : REAL(name)(fd, st);      \
    }
STAT_FD(fstat, struct stat)
STAT_FD(fstat64, struct stat64)

#define STAT_AT(name, type)                                                     \
    EXPORT int name(int dirfd, const char* path, type* st, int flags) noexcept { \
        const int r = StatAt(dirfd, path, st, flags);                           \
        return r != 1 ? r : REAL(name)(dirfd, path, st, flags);                 \
    }
STAT_AT(fstatat, struct stat)
STAT_AT(fstatat64, struct stat64)

#define XSTAT_PATH(name, type)                                        \
    EXPORT int name(int version, const char* path, type* st) {        \
        const int r = StatPath(path, st);                             \
        return r != 1 ? r : REAL(name)(version, path, st);            \
    }
XSTAT_PATH(__xstat, struct stat)
XSTAT_PATH(__xstat64, struct stat64)
XSTAT_PATH(__lxstat, struct stat)
XSTAT_PATH(__lxstat64, struct stat64)

#define XSTAT_FD(name, type)                                  \
    EXPORT int name(int version, int fd, type* st) {          \
        const int r = StatFd(fd, st);                         \
        return r != 1 ? r : REAL(name)(version, fd, st);      \
    }
XSTAT_FD(__fxstat, struct stat)
XSTAT_FD(__fxstat64, struct stat64)

#define XSTAT_AT(name, type)                                                           \
    EXPORT int name(int version, int dirfd, const char* path, type* st, int flags) {   \
        const int r = StatAt(dirfd, path, st, flags);                                  \
        return r != 1 ? r : REAL(name)(version, dirfd, path, st, flags);               \
    }
XSTAT_AT(__fxstatat, struct stat)
XSTAT_AT(__fxstatat64, struct stat64)

EXPORT int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* stx) noexcept {
    TNode* node = nullptr;
    std::string copy;
    if (EmptyPath(path, flags)) {
        node = NodeForFd(dirfd);
    } else if (TNode* named = NodeForPath(path, copy); named && named->IsNode(copy.c_str())) {
        node = named;
    }
    if (!node) {
        return REAL(statx)(dirfd, path, flags, mask, stx);
    }
    struct statx answer;
    node->Statx(answer);
    return WriteUser(stx, &answer, sizeof answer) ? 0 : Answer(-EFAULT);
}

// -------------------------------------------------------------- listings

EXPORT DIR* opendir(const char* path) {
    std::string copy;
    if (TNode* node = NodeForPath(path, copy)) {
        const int r = node->SysFile(copy.c_str());
        if (r < 0) {
            errno = -r;
            return nullptr;
        }
        if (r != 1) {
            REAL(close)(r);
            errno = ENOTDIR;
            return nullptr;
        }
    }
    DIR* dir = REAL(opendir)(path);
    const bool devices = copy == "/dev" || copy == "/dev/";
    if (dir && devices && !InsideCamera() && TNode::Instance()) {
        std::lock_guard lock(gListingMutex);
        gListings[dir] = {};
    }
    return dir;
}

EXPORT int closedir(DIR* dir) {
    {
        std::lock_guard lock(gListingMutex);
        gListings.erase(dir);
    }
    return REAL(closedir)(dir);
}

EXPORT void rewinddir(DIR* dir) noexcept {
    {
        std::lock_guard lock(gListingMutex);
        if (const auto it = gListings.find(dir); it != gListings.end()) {
            it->second = {};
        }
    }
    REAL(rewinddir)(dir);
}

EXPORT dirent* readdir(DIR* dir) {
    static_assert(sizeof(dirent) == sizeof(dirent64));
    return static_cast<dirent*>(ListedNode(dir, REAL(readdir)(dir)));
}

EXPORT dirent64* readdir64(DIR* dir) {
    return static_cast<dirent64*>(ListedNode(dir, REAL(readdir64)(dir)));
}

// --------------------------------------------------------------- syscall

// libv4l2 makes its device calls through syscall(2).
EXPORT long syscall(long number, ...) noexcept {
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (long& v : a) {
        v = va_arg(ap, long);
    }
    va_end(ap);
    const auto fd = static_cast<int>(a[0]);
    switch (number) {
        case SYS_open:
            if (const int r = OpenNode(reinterpret_cast<const char*>(a[0]), int(a[1])); r != 1) {
                return Answer(r);
            }
            break;
        case SYS_openat:
            if (const int r = OpenNode(reinterpret_cast<const char*>(a[1]), int(a[2])); r != 1) {
                return Answer(r);
            }
            break;
        case SYS_close:
            if (TNode* node = NodeForFd(fd)) {
                return Answer(node->Close(fd));
            }
            break;
        case SYS_ioctl:
            if (TNode* node = NodeForFd(fd)) {
                return Answer(node->Ioctl(fd, static_cast<unsigned long>(a[1]),
                                          reinterpret_cast<void*>(a[2])));
            }
            break;
        case SYS_read:
        case SYS_write:
            if (NodeForFd(fd)) {
                return Answer(-EINVAL);
            }
            break;
        case SYS_mmap:
            if (NodeForFd(static_cast<int>(a[4]))) {
                return reinterpret_cast<long>(mmap(reinterpret_cast<void*>(a[0]), size_t(a[1]),
                                                   int(a[2]), int(a[3]), int(a[4]), off_t(a[5])));
            }
            break;
        case SYS_munmap:
            return munmap(reinterpret_cast<void*>(a[0]), size_t(a[1]));
        default:
            break;
    }
    return REAL(syscall)(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
