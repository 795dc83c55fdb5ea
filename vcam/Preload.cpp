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
using vcam::preload::TNode;

namespace {

// -errno (or a result) as the C library answers: -1 with errno set.
int Answer(int result) {
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

// The node, when `path` may be one of its names: only /dev and /sys paths are looked at.
TNode* NodeForPath(const char* path) {
    if (InsideCamera() || !path ||
        (std::strncmp(path, "/dev/", 5) != 0 && std::strncmp(path, "/sys/", 5) != 0)) {
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
    TNode* node = NodeForPath(path);
    if (!node) {
        return 1;
    }
    if (node->IsNode(path)) {
        return node->Open(flags);
    }
    return node->SysFile(path);
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

bool AnyNodeFd(const pollfd* fds, nfds_t count) {
    if (InsideCamera() || gOpenDescriptors.load(std::memory_order_acquire) == 0) {
        return false;
    }
    TNode* node = TNode::Instance();
    return node && std::any_of(fds, fds + count,
                               [node](const pollfd& p) { return node->CameraFd(p.fd) >= 0; });
}

// select's sets as poll entries, answered by the node's poll and put back: readable
// includes errors and hang-ups, as the kernel's select counts them.
int SelectThroughPoll(int n, fd_set* read, fd_set* write, fd_set* except, int timeoutMs) {
    std::vector<pollfd> fds;
    for (int fd = 0; fd < n; ++fd) {
        short events = 0;
        events |= read && FD_ISSET(fd, read) ? POLLIN : 0;
        events |= write && FD_ISSET(fd, write) ? POLLOUT : 0;
        events |= except && FD_ISSET(fd, except) ? POLLPRI : 0;
        if (events) {
            fds.push_back({fd, events, 0});
        }
    }
    const int result = TNode::Instance()->Poll(fds.data(), fds.size(), timeoutMs);
    if (result < 0) {
        return Answer(result);
    }
    int ready = 0;
    for (fd_set* set : {read, write, except}) {
        if (set) {
            FD_ZERO(set);
        }
    }
    for (const pollfd& p : fds) {
        const short r = p.revents;
        if (read && (p.events & POLLIN) && (r & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            FD_SET(p.fd, read);
            ++ready;
        }
        if (write && (p.events & POLLOUT) && (r & (POLLOUT | POLLERR | POLLNVAL))) {
            FD_SET(p.fd, write);
            ++ready;
        }
        if (except && (p.events & POLLPRI) && (r & POLLPRI)) {
            FD_SET(p.fd, except);
            ++ready;
        }
    }
    return ready;
}

bool AnyNodeFdInSets(int n, const fd_set* read, const fd_set* write, const fd_set* except) {
    if (InsideCamera() || gOpenDescriptors.load(std::memory_order_acquire) == 0) {
        return false;
    }
    TNode* node = TNode::Instance();
    for (int fd = 0; node && fd < n && fd < FD_SETSIZE; ++fd) {
        if (((read && FD_ISSET(fd, read)) || (write && FD_ISSET(fd, write)) ||
             (except && FD_ISSET(fd, except))) &&
            node->CameraFd(fd) >= 0) {
            return true;
        }
    }
    return false;
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

template <class TStat>
int StatPath(const char* path, TStat* st) {
    TNode* node = NodeForPath(path);
    if (!node || !node->IsNode(path)) {
        return 1;
    }
    static_assert(sizeof(TStat) == sizeof(struct stat));
    node->Stat(*reinterpret_cast<struct stat*>(st));
    return 0;
}

template <class TStat>
int StatFd(int fd, TStat* st) {
    TNode* node = NodeForFd(fd);
    if (!node) {
        return 1;
    }
    node->Stat(*reinterpret_cast<struct stat*>(st));
    return 0;
}

// fstatat's ways: a path, or the descriptor itself with an empty path.
template <class TStat>
int StatAt(int dirfd, const char* path, TStat* st, int flags) {
    if (path && !*path && (flags & AT_EMPTY_PATH)) {
        return StatFd(dirfd, st);
    }
    return StatPath(path, st);
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

// ------------------------------------------------------------------ open

#define OPEN_WITH_MODE(name)                                       \
    EXPORT int name(const char* path, int flags, ...) {            \
        mode_t mode = 0;                                           \
        if (TakesMode(flags)) {                                    \
            va_list ap;                                            \
            va_start(ap, flags);                                   \
            mode = va_arg(ap, mode_t);                             \
            va_end(ap);                                            \
        }                                                          \
        const int r = OpenNode(path, flags);                       \
        return r != 1 ? Answer(r) : REAL(name)(path, flags, mode); \
    }
OPEN_WITH_MODE(open)
OPEN_WITH_MODE(open64)

#define OPENAT_WITH_MODE(name)                                            \
    EXPORT int name(int dirfd, const char* path, int flags, ...) {        \
        mode_t mode = 0;                                                  \
        if (TakesMode(flags)) {                                           \
            va_list ap;                                                   \
            va_start(ap, flags);                                          \
            mode = va_arg(ap, mode_t);                                    \
            va_end(ap);                                                   \
        }                                                                 \
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
        TNode* node = NodeForPath(path);                                              \
        const int fd = node && !node->IsNode(path) ? node->SysFile(path) : 1;         \
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
    TNode* node = NodeForPath(path);
    if (node && node->IsNode(path)) {
        return Answer((mode & X_OK) ? -EACCES : 0);
    }
    return REAL(access)(path, mode);
}

EXPORT int faccessat(int dirfd, const char* path, int mode, int flags) noexcept {
    TNode* node = NodeForPath(path);
    if (node && node->IsNode(path)) {
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
    if (AnyNodeFd(fds, count)) {
        return Answer(TNode::Instance()->Poll(fds, count, timeoutMs));
    }
    return REAL(poll)(fds, count, timeoutMs);
}

EXPORT int __poll_chk(pollfd* fds, nfds_t count, int timeoutMs, unsigned long) {
    return poll(fds, count, timeoutMs);
}

EXPORT int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    if (!AnyNodeFd(fds, count)) {
        return REAL(ppoll)(fds, count, timeout, mask);
    }
    sigset_t before;
    if (mask) {
        ::pthread_sigmask(SIG_SETMASK, mask, &before);
    }
    const int r = TNode::Instance()->Poll(fds, count, Milliseconds(timeout));
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
    if (!AnyNodeFdInSets(n, read, write, except)) {
        return REAL(select)(n, read, write, except, timeout);
    }
    timespec t{};
    if (timeout) {
        t = {timeout->tv_sec, timeout->tv_usec * 1000};
    }
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const int r = SelectThroughPoll(std::min(n, FD_SETSIZE), read, write, except,
                                    Milliseconds(timeout ? &t : nullptr));
    if (timeout) {
        // Linux leaves the time not slept in the timeout.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = (t.tv_sec - (now.tv_sec - start.tv_sec)) * 1000000LL +
                               (t.tv_nsec - (now.tv_nsec - start.tv_nsec)) / 1000;
        const long long us = std::max(left, 0LL);
        timeout->tv_sec = us / 1000000;
        timeout->tv_usec = us % 1000000;
    }
    return r;
}

EXPORT int pselect(int n, fd_set* read, fd_set* write, fd_set* except, const timespec* timeout,
                   const sigset_t* mask) {
    if (!AnyNodeFdInSets(n, read, write, except)) {
        return REAL(pselect)(n, read, write, except, timeout, mask);
    }
    sigset_t before;
    if (mask) {
        ::pthread_sigmask(SIG_SETMASK, mask, &before);
    }
    const int r = SelectThroughPoll(std::min(n, FD_SETSIZE), read, write, except,
                                    Milliseconds(timeout));
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
    if (path && !*path && (flags & AT_EMPTY_PATH)) {
        node = NodeForFd(dirfd);
    } else if (TNode* named = NodeForPath(path); named && named->IsNode(path)) {
        node = named;
    }
    if (!node) {
        return REAL(statx)(dirfd, path, flags, mask, stx);
    }
    node->Statx(*stx);
    return 0;
}

// -------------------------------------------------------------- listings

EXPORT DIR* opendir(const char* path) {
    if (TNode* node = NodeForPath(path)) {
        const int r = node->SysFile(path);
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
    const bool devices = path && (std::strcmp(path, "/dev") == 0 || std::strcmp(path, "/dev/") == 0);
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
