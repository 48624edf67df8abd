#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "iow/linux/iow_linux_protocol.h"

namespace quillon::iow {

// The system calls that the Linux backend makes, behind one seam so that tests can play the
// kernel driver's part. Results follow the kernel's convention: a count or 0 on success,
// minus the error number on failure.
class LinuxSyscalls {
  public:
    virtual ~LinuxSyscalls() = default;
    // The IO-Warrior device nodes that exist now (/dev/usb/iowarrior*), in any order.
    virtual std::vector<std::string> ListDeviceNodes() = 0;
    // open(2) of a node with `flags` (O_RDWR and the like); a file descriptor or -errno.
    virtual int Open(const std::string& path, int flags) = 0;
    virtual void Close(int fd) = 0;
    // The IOW_GETINFO ioctl.
    virtual int GetInfo(int fd, IowarriorInfo& info) = 0;
    virtual long Write(int fd, const std::uint8_t* bytes, std::size_t length) = 0;
    virtual long Read(int fd, std::uint8_t* bytes, std::size_t length) = 0;
    // poll(2) of one descriptor: its revents (0 on time-out) or -errno (-EINTR included).
    virtual int Poll(int fd, short events, int timeoutMs) = 0;
    // The text of a sysfs file, empty when it cannot be read.
    virtual std::string ReadTextFile(const std::string& path) = 0;
    // The path with every symbolic link resolved, empty when it does not exist.
    virtual std::string CanonicalPath(const std::string& path) = 0;
};

// The real system calls.
LinuxSyscalls& RealLinuxSyscalls();

// The seam: the backend uses `syscalls` from now on (nullptr: the real ones again). The
// caller keeps `syscalls` alive while it is in use.
void UseLinuxSyscalls(LinuxSyscalls* syscalls);

// The system calls in use: the seam's, or the real ones.
LinuxSyscalls& CurrentLinuxSyscalls();

}  // namespace quillon::iow
