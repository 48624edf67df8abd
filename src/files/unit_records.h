#pragma once

// The files a production line keeps beside its images: the counter that gives each unit its
// serial number, and the log that records each unit. Plain functions over paths; POSIX.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "files/file_error.h"

namespace quillon {

inline constexpr int kErrorNotACounter = 1004;  // a counter file that holds no number

// The number that the counter file at `path` holds (decimal text, white space around it).
std::variant<std::uint32_t, FileError> PeekCounter(const std::string& path);

// Takes the counter's number and advances the file to the next one, on the disk (synced) before
// it returns, under an exclusive lock on the file: no two takers, in one process or several,
// get one number, and a number once taken is never given again, whatever happens to the unit.
std::variant<std::uint32_t, FileError> TakeCounter(const std::string& path);

// An append-only log of one line per record: opened (created if need be) before anything is
// done, each line appended in one write (O_APPEND) and synced; never truncated or rewritten.
class UnitLog {
  public:
    ~UnitLog();
    std::optional<FileError> Open(const std::string& path);
    std::optional<FileError> Append(const std::string& line);  // `line` ends with '\n'
    bool IsOpen() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace quillon
