// The device node the preload library makes answer as the virtual camera
// (/dev/video99, or SNAPIX_VCAM_DEVICE): its path and number, the descriptors open on it
// with their duplicates, what stat and sysfs say about it, and the camera behind it.
// Everything a driver would decide is the camera's; this is only the kernel's part of
// the way there (paths, descriptor numbers, copies of the caller's memory).
#pragma once

#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "capture/VirtualCamera.h"

struct statx;

namespace vcam::preload {

// How many descriptors of the camera this process holds: the entry points pass any
// descriptor straight on while there are none.
extern std::atomic<int> gOpenDescriptors;
// Whether the camera exists: only then may an address be one of its mappings.
extern std::atomic<bool> gCameraMade;

class TNode {
  public:
    // The node of this process, set up from the environment on first use; nullptr when
    // the environment names no usable node or model (said once on standard error).
    static TNode* Instance();

    // --- paths
    bool IsNode(const char* path) const;
    // "videoN", as the node shows in /dev.
    const std::string& Name() const { return FName; }
    // A generated sysfs file of the node (uevent, dev, name) as a readable descriptor;
    // -ENOENT for other files under its sysfs folders, 1 for paths that are not its own.
    int SysFile(const char* path) const;
    void Stat(struct stat& st) const;
    void Statx(struct statx& stx) const;

    // --- descriptors (`fd` is the caller's number, a duplicate's included)
    // The camera's descriptor behind `fd`, or -1 when `fd` is not the camera's.
    int CameraFd(int fd) const;
    int Open(int flags);
    // Forgets `fd`; the camera's descriptor closes with the last of its duplicates.
    // -EBADF when `fd` is not the camera's.
    int Close(int fd);
    // `copy` (already made by the system) now stands for the same open as `fd`.
    void Duplicated(int fd, int copy);
    int Ioctl(int fd, unsigned long request, void* user);
    void* Mmap(std::size_t length, int prot, int flags, int fd, int64_t offset, int* error);
    // -EINVAL when `address` is not a mapping of the camera's.
    int Munmap(void* address, std::size_t length);
    int Poll(pollfd* fds, nfds_t count, int timeoutMs);

  private:
    TNode(std::string path, int number, const vcam::TModel& model);
    VirtualCamera& Camera();
    // Reads the switch file again (its watcher thread calls this when it changes).
    void ReadSwitchFile();
    void WatchSwitchFile();

    const std::string FPath;
    const std::string FName;
    const int FNumber;
    const vcam::TModel& FModel;
    std::string FSwitchFile;
    // SNAPIX_VCAM_STATS_FILE: "<pid> <frames delivered> <camera's own CPU time, µs>",
    // rewritten with every frame and when the camera is closed, so that a benchmark can
    // tell what a program it did not write has done, and what of its time the camera took.
    void WriteStats(const VirtualCamera& camera);
    int FStatsFd = -1;
    std::atomic<uint64_t> FFrames{0};

    mutable std::mutex FMutex;
    std::unique_ptr<VirtualCamera> FCamera;
    std::map<int, int> FCameraFdOf;  // caller's descriptor -> camera's descriptor
    std::map<int, int> FUsers;       // camera's descriptor -> caller's descriptors on it
};

}  // namespace vcam::preload
