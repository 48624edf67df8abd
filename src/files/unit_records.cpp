#include "files/unit_records.h"

#include <sys/file.h>

#include <charconv>
#include <string_view>

#include "files/regular_file.h"

namespace quillon {

namespace {

constexpr std::size_t kCounterTextLimit = 64;

FileError NotACounter() {
    return FileError{kErrorNotACounter, "The counter file does not hold a number (0..4294967295)"};
}

// The number in `fd`'s text, read from its start.
std::variant<std::uint32_t, FileError> ReadNumber(int fd) {
    char text[kCounterTextLimit];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    if (got < 0) return ErrnoError(errno);
    std::string_view digits(text, static_cast<std::size_t>(got));
    while (!digits.empty() && std::isspace(static_cast<unsigned char>(digits.front())))
        digits.remove_prefix(1);
    while (!digits.empty() && std::isspace(static_cast<unsigned char>(digits.back())))
        digits.remove_suffix(1);
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return NotACounter();
    return number;
}

}  // namespace

std::variant<std::uint32_t, FileError> PeekCounter(const std::string& path) {
    std::optional<FileError> error;
    off_t size = 0;
    Fd fd(OpenRegularFile(path, error, size));
    if (error) return *error;
    return ReadNumber(fd.get());
}

std::variant<std::uint32_t, FileError> TakeCounter(const std::string& path) {
    std::optional<FileError> error;
    off_t size = 0;
    Fd fd(OpenRegularFile(path, error, size, O_RDWR));
    if (error) return *error;
    // The lock belongs to this open file: another open, in this process or another, waits.
    while (::flock(fd.get(), LOCK_EX) != 0)
        if (errno != EINTR) return ErrnoError(errno);
    const auto taken = ReadNumber(fd.get());
    const auto* number = std::get_if<std::uint32_t>(&taken);
    if (number == nullptr) return taken;
    if (*number == UINT32_MAX) return NotACounter();  // no next number
    // The next number written over the old text in one write, the file then cut to it.
    const std::string next = std::to_string(*number + 1) + "\n";
    if (::pwrite(fd.get(), next.data(), next.size(), 0) != static_cast<ssize_t>(next.size()) ||
        ::ftruncate(fd.get(), static_cast<off_t>(next.size())) != 0 || ::fsync(fd.get()) != 0)
        return ErrnoError(errno);
    return *number;  // the lock goes with the descriptor
}

UnitLog::~UnitLog() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<FileError> UnitLog::Open(const std::string& path) {
    std::optional<FileError> error;
    off_t size = 0;
    fd_ = OpenRegularFile(path, error, size, O_WRONLY | O_APPEND | O_CREAT);
    return error;
}

std::optional<FileError> UnitLog::Append(const std::string& line) {
    if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
        ::fsync(fd_) != 0)
        return ErrnoError(errno);
    return std::nullopt;
}

}  // namespace quillon
