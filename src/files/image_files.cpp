#include "files/image_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <pugixml.hpp>
#include <utility>
#include <vector>

namespace quillon {

namespace {

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

FileError TooLarge() {
    return FileError{EFBIG, "File too large: an EDID image file is at most 4 MiB"};
}

int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    return -1;
}

bool IsSpaceAround(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r'; }

std::u32string ToU32(const pugi::char_t* text) {
    const std::wstring wide = pugi::as_wide(text);
    return std::u32string(wide.begin(), wide.end());
}

}  // namespace

ImageFormat FormatOf(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return ImageFormat::Raw;
    const std::string_view extension = name.substr(dot + 1);
    if (extension.size() != 3) return ImageFormat::Raw;
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    const bool xml =
        upper(extension[0]) == 'X' && upper(extension[1]) == 'M' && upper(extension[2]) == 'L';
    return xml ? ImageFormat::Xml : ImageFormat::Raw;
}

LoadOutcome LoadRawImage(const std::string& path, EdidImage& image) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return ErrnoError(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return ErrnoError(errno);
    if (S_ISDIR(info.st_mode)) return ErrnoError(EISDIR);
    if (S_ISREG(info.st_mode) && info.st_size > kMaxImageFileBytes) return TooLarge();
    EdidImage read{};
    std::size_t got = 0;
    while (got < read.size()) {
        const ssize_t n = ::read(fd.get(), read.data() + got, read.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ErrnoError(errno);
        }
        if (n == 0) break;  // a short file: the rest stays 0
        got += static_cast<std::size_t>(n);
    }
    image = read;
    return {};
}

std::uint8_t BlockTextByte(std::u32string_view text, int k) {
    const std::size_t start = static_cast<std::size_t>(k) * 2;
    if (start >= text.size()) return 0;
    std::u32string pair;
    for (std::size_t i = start; i < start + 2 && i < text.size(); ++i) {
        if (text[i] != U' ' && text[i] != U'\t' && text[i] != U'\n') pair.push_back(text[i]);
    }
    int value = 0;
    for (char32_t c : pair) {
        const int digit = HexDigitValue(c);
        if (digit < 0) break;
        value = value * 16 + digit;
    }
    return static_cast<std::uint8_t>(value);
}

void DecodeBlockText(std::u32string_view text, std::uint8_t* block) {
    while (!text.empty() && IsSpaceAround(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpaceAround(text.back())) text.remove_suffix(1);
    for (int k = 0; k < kBlockBytes; ++k) block[k] = BlockTextByte(text, k);
}

namespace {

// The image from a loaded document: the last /DATAOBJ/DATA element's blocks.
LoadOutcome ImageFromDocument(const pugi::xml_document& document, EdidImage& image) {
    std::u32string block0;
    std::u32string block1;
    for (const pugi::xpath_node& data : document.select_nodes("/DATAOBJ/DATA")) {
        const pugi::xml_node first = data.node().child("BLOCK0");
        if (!first)
            return FileError{kErrorMissingBlock0, "The XML element DATA has no BLOCK0 element"};
        block0 = ToU32(first.text().get());
        const pugi::xml_node second = data.node().child("BLOCK1");
        if (!second)
            return FileError{kErrorMissingBlock1, "The XML element DATA has no BLOCK1 element"};
        block1 = ToU32(second.text().get());
    }
    DecodeBlockText(block0, image.data());
    DecodeBlockText(block1, image.data() + kBlockBytes);
    return {};
}

ParserFailure FailureOf(const pugi::xml_parse_result& parsed) {
    std::string reason = parsed.description();
    if (parsed.status != pugi::status_file_not_found && parsed.status != pugi::status_io_error) {
        reason += " at offset " + std::to_string(parsed.offset);
    }
    return ParserFailure{reason};
}

}  // namespace

LoadOutcome LoadXmlImage(const std::string& path, EdidImage& image) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_size > kMaxImageFileBytes) {
        return TooLarge();
    }
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_file(path.c_str());
    if (!parsed) return FailureOf(parsed);
    return ImageFromDocument(document, image);
}

LoadOutcome LoadXmlImageFromMemory(std::string_view text, EdidImage& image) {
    if (static_cast<long long>(text.size()) > kMaxImageFileBytes) return TooLarge();
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed) return FailureOf(parsed);
    return ImageFromDocument(document, image);
}

LoadOutcome LoadImageFile(const std::string& path, EdidImage& image) {
    return FormatOf(path) == ImageFormat::Xml ? LoadXmlImage(path, image)
                                              : LoadRawImage(path, image);
}

namespace {
const FileWriteCalls kRealFileWriteCalls = {
    [](char* pattern) { return ::mkostemp(pattern, O_CLOEXEC); },
    [](int fd, const void* data, std::size_t size) {
        return static_cast<long>(::write(fd, data, size));
    },
    [](int fd) { return ::fsync(fd); },
    [](const char* from, const char* to) { return ::rename(from, to); },
};
const FileWriteCalls* g_fileWriteCalls = &kRealFileWriteCalls;
}  // namespace

const FileWriteCalls& RealFileWriteCalls() { return kRealFileWriteCalls; }

void UseFileWriteCalls(const FileWriteCalls* calls) {
    g_fileWriteCalls = calls != nullptr ? calls : &kRealFileWriteCalls;
}

std::optional<FileError> WriteBinaryFile(const std::string& path, const EdidImage& image) {
    const FileWriteCalls& calls = *g_fileWriteCalls;
    // The new file goes beside the old one, in the same folder, so that rename replaces it
    // in one step.
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temporary =
        folder + (slash == std::string::npos ? "/" : "") + ".quillon-save-XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    Fd fd(calls.makeTemporary(name.data()));
    if (fd.get() < 0) return ErrnoError(errno);
    temporary = name.data();
    auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        return std::optional<FileError>(ErrnoError(error));
    };
    // Keep an existing file's permissions; a new file gets the usual ones (umask applies).
    struct stat old {};
    mode_t mode = 0666;
    if (::stat(path.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) return fail(EISDIR);
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    if (::fchmod(fd.get(), mode) != 0) return fail(errno);
    std::size_t written = 0;
    while (written < image.size()) {
        const long n = calls.write(fd.get(), image.data() + written, image.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (calls.fsync(fd.get()) != 0) return fail(errno);
    if (::close(fd.release()) != 0) return fail(errno);
    if (calls.rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
    return std::nullopt;
}

}  // namespace quillon
