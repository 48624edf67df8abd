#pragma once

// What the file readers and writers of this folder share: a descriptor closed when it goes out
// of scope, and an open that takes only a regular file. Internal to src/files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "files/file_error.h"

namespace quillon {

// Closes a file descriptor when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

inline FileError NotRegularFile() {
    return FileError{kErrorNotRegularFile,
                     "Not a regular file: a named pipe, a device or a socket holds no image"};
}

// Opens `path` with `flags` without blocking (a named pipe without a writer would block the
// open, a device the read) and checks on the same descriptor that it is a regular file, so a
// file swapped in between cannot slip through. Returns the descriptor, or -1 and the error.
inline int OpenRegularFile(const std::string& path, std::optional<FileError>& error, off_t& size,
                           int flags = O_RDONLY) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) return error = ErrnoError(errno), -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        error = ErrnoError(errno);
    else if (S_ISDIR(info.st_mode))
        error = ErrnoError(EISDIR);
    else if (!S_ISREG(info.st_mode))
        error = NotRegularFile();
    if (error) return ::close(fd), -1;
    size = info.st_size;
    return fd;
}

}  // namespace quillon
