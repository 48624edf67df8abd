#include "iow/linux/linux_syscalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon::iow {

namespace {

class RealSyscalls : public LinuxSyscalls {
  public:
    std::vector<std::string> ListDeviceNodes() override {
        std::vector<std::string> nodes;
        DIR* dir = opendir(kDeviceFolder);
        if (dir == nullptr) return nodes;
        while (const dirent* entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, kNodePrefix, std::strlen(kNodePrefix)) == 0) {
                nodes.push_back(std::string(kDeviceFolder) + "/" + entry->d_name);
            }
        }
        closedir(dir);
        return nodes;
    }
    int Open(const std::string& path, int flags) override {
        const int fd = ::open(path.c_str(), flags);
        return fd >= 0 ? fd : -errno;
    }
    void Close(int fd) override { ::close(fd); }
    int GetInfo(int fd, IowarriorInfo& info) override {
        return ::ioctl(fd, kIowGetInfoRequest, &info) == 0 ? 0 : -errno;
    }
    long Write(int fd, const std::uint8_t* bytes, std::size_t length) override {
        const ssize_t n = ::write(fd, bytes, length);
        return n >= 0 ? static_cast<long>(n) : -errno;
    }
    long Read(int fd, std::uint8_t* bytes, std::size_t length) override {
        const ssize_t n = ::read(fd, bytes, length);
        return n >= 0 ? static_cast<long>(n) : -errno;
    }
    int Poll(int fd, short events, int timeoutMs) override {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, timeoutMs);
        if (n < 0) return -errno;
        return n == 0 ? 0 : p.revents;
    }
    std::string ReadTextFile(const std::string& path) override {
        std::ifstream file(path);
        if (!file) return {};
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::string CanonicalPath(const std::string& path) override {
        std::error_code error;
        const std::filesystem::path canonical = std::filesystem::canonical(path, error);
        return error ? std::string() : canonical.string();
    }
};

LinuxSyscalls* g_syscalls = nullptr;

}  // namespace

LinuxSyscalls& RealLinuxSyscalls() {
    static RealSyscalls real;
    return real;
}

void UseLinuxSyscalls(LinuxSyscalls* syscalls) { g_syscalls = syscalls; }

LinuxSyscalls& CurrentLinuxSyscalls() {
    return g_syscalls != nullptr ? *g_syscalls : RealLinuxSyscalls();
}

}  // namespace quillon::iow
