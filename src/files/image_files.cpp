#include "files/image_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <pugixml.hpp>
#include <span>
#include <utility>
#include <vector>

#include "files/regular_file.h"
#include "image/edid_layout.h"

namespace quillon {

namespace {

// Reads up to `limit` bytes from `fd` into `out`; false with errno on a failed read.
bool ReadUpTo(int fd, std::size_t limit, std::string& out) {
    out.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, out.data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

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

namespace {

// The first `most` bytes of the image file at `path` into `bytes`; refused when it is not a
// regular file or is larger than an image file can be.
std::optional<FileError> ReadImageFile(const std::string& path, std::size_t most,
                                       std::string& bytes, off_t& size) {
    std::optional<FileError> error;
    Fd fd(OpenRegularFile(path, error, size));
    if (error) return error;
    if (size > kMaxImageFileBytes) return TooLarge();
    if (!ReadUpTo(fd.get(), most, bytes)) return ErrnoError(errno);
    return std::nullopt;
}

}  // namespace

LoadOutcome LoadRawImage(const std::string& path, EdidImage& image) {
    std::string bytes;
    off_t size = 0;
    if (auto error = ReadImageFile(path, std::tuple_size_v<EdidImage>, bytes, size)) return *error;
    image = FirstTwoBlocks({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return ImageLoaded{size};  // a short file: the rest is 0
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

// An element's whole text: its text and CDATA children in order.
std::u32string AllText(const pugi::xml_node& element) {
    std::u32string text;
    for (const pugi::xml_node& child : element.children())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += ToU32(child.value());
    return text;
}

// The image from a loaded document: the last /DATAOBJ/DATA element's blocks, BLOCK0 and BLOCK1
// and every BLOCK2, BLOCK3 ... after them.
LoadOutcome ImageFromDocument(const pugi::xml_document& document, EdidBytes& image,
                              WithoutData withoutData) {
    std::vector<std::u32string> blocks(2);
    const pugi::xpath_node_set found = document.select_nodes("/DATAOBJ/DATA");
    if (found.empty() && withoutData == WithoutData::Refused)
        return FileError{kErrorNoImage, "The XML file holds no EDID image (no /DATAOBJ/DATA)"};
    for (const pugi::xpath_node& data : found) {
        const pugi::xml_node first = data.node().child("BLOCK0");
        if (!first)
            return FileError{kErrorMissingBlock0, "The XML element DATA has no BLOCK0 element"};
        const pugi::xml_node second = data.node().child("BLOCK1");
        if (!second)
            return FileError{kErrorMissingBlock1, "The XML element DATA has no BLOCK1 element"};
        blocks.assign({AllText(first), AllText(second)});
        for (int k = 2; k * kBlockBytes < kLargestMemoryBytes; ++k) {
            const pugi::xml_node more = data.node().child(("BLOCK" + std::to_string(k)).c_str());
            if (!more) break;
            blocks.push_back(AllText(more));
        }
    }
    image.assign(blocks.size() * kBlockBytes, 0);
    for (std::size_t k = 0; k < blocks.size(); ++k)
        DecodeBlockText(blocks[k], image.data() + k * kBlockBytes);
    return ImageLoaded{static_cast<long long>(image.size())};
}

// The first two blocks of what `load` gives.
template <typename Load>
LoadOutcome FirstTwoBlocksOf(EdidImage& image, Load load) {
    EdidBytes bytes;
    LoadOutcome outcome = load(bytes);
    if (std::holds_alternative<ImageLoaded>(outcome)) image = FirstTwoBlocks(bytes);
    return outcome;
}

ParserFailure FailureOf(const pugi::xml_parse_result& parsed) {
    std::string reason = parsed.description();
    if (parsed.status != pugi::status_file_not_found && parsed.status != pugi::status_io_error) {
        reason += " at offset " + std::to_string(parsed.offset);
    }
    return ParserFailure{reason};
}

}  // namespace

namespace {

LoadOutcome LoadXmlBytes(const std::string& path, EdidBytes& image, WithoutData withoutData) {
    std::string text;  // one byte over the limit tells a file that grew since
    off_t size = 0;
    if (auto error = ReadImageFile(path, kMaxImageFileBytes + 1, text, size)) return *error;
    return LoadXmlBytesFromMemory(text, image, withoutData);
}

}  // namespace

LoadOutcome LoadXmlBytesFromMemory(std::string_view text, EdidBytes& image,
                                   WithoutData withoutData) {
    if (static_cast<long long>(text.size()) > kMaxImageFileBytes) return TooLarge();
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed) return FailureOf(parsed);
    return ImageFromDocument(document, image, withoutData);
}

LoadOutcome LoadXmlImage(const std::string& path, EdidImage& image, WithoutData withoutData) {
    return FirstTwoBlocksOf(
        image, [&](EdidBytes& bytes) { return LoadXmlBytes(path, bytes, withoutData); });
}

LoadOutcome LoadXmlImageFromMemory(std::string_view text, EdidImage& image,
                                   WithoutData withoutData) {
    return FirstTwoBlocksOf(
        image, [&](EdidBytes& bytes) { return LoadXmlBytesFromMemory(text, bytes, withoutData); });
}

LoadOutcome LoadImageFile(const std::string& path, EdidImage& image, WithoutData withoutData) {
    return FormatOf(path) == ImageFormat::Xml ? LoadXmlImage(path, image, withoutData)
                                              : LoadRawImage(path, image);
}

LoadOutcome LoadImageBytes(const std::string& path, EdidBytes& image, WithoutData withoutData) {
    if (FormatOf(path) == ImageFormat::Xml) return LoadXmlBytes(path, image, withoutData);
    std::string bytes;  // one byte over the largest memory tells a file too long for any
    off_t size = 0;
    if (auto error = ReadImageFile(path, kLargestMemoryBytes + 1, bytes, size)) return *error;
    image.assign(bytes.begin(), bytes.end());
    return ImageLoaded{size};
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

namespace {

// The file that `path` names, through any symbolic links (a dangling one included).
std::string ResolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0) break;
        target.resize(static_cast<std::size_t>(n));
        const std::size_t slash = path.find_last_of('/');
        path = target[0] == '/' || slash == std::string::npos ? target
                                                              : path.substr(0, slash + 1) + target;
    }
    return path;
}

std::optional<FileError> WriteAll(const FileWriteCalls& calls, int fd,
                                  std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const long n = calls.write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ErrnoError(errno);
        written += static_cast<std::size_t>(n);
    }
    if (calls.fsync(fd) != 0) return ErrnoError(errno);
    return std::nullopt;
}

// The folder refuses new files but the file takes writes: write it where it is.
std::optional<FileError> WriteInPlace(const FileWriteCalls& calls, const std::string& path,
                                      std::span<const std::uint8_t> bytes) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) return ErrnoError(errno);
    if (!S_ISREG(info.st_mode)) return NotRegularFile();
    if (::ftruncate(fd.get(), 0) != 0) return ErrnoError(errno);
    if (auto error = WriteAll(calls, fd.get(), bytes)) return error;
    if (::close(fd.release()) != 0) return ErrnoError(errno);
    return std::nullopt;
}

}  // namespace

std::optional<FileError> WriteBinaryFile(const std::string& requested,
                                         std::span<const std::uint8_t> image, int byteCount) {
    const FileWriteCalls& calls = *g_fileWriteCalls;
    const std::span<const std::uint8_t> bytes = image.first(
        static_cast<std::size_t>(std::clamp(byteCount, 0, static_cast<int>(image.size()))));
    const std::string path = ResolveLinks(requested);
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) return ErrnoError(EISDIR);
    if (exists && !S_ISREG(old.st_mode)) return NotRegularFile();
    // The new file goes beside the old one, in the same folder, so that rename replaces it
    // in one step.
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temporary =
        folder + (slash == std::string::npos ? "/" : "") + ".quillon-save-XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    Fd fd(calls.makeTemporary(name.data()));
    if (fd.get() < 0) {
        const int error = errno;
        if ((error == EACCES || error == EPERM) && exists && ::access(path.c_str(), W_OK) == 0)
            return WriteInPlace(calls, path, bytes);
        return ErrnoError(error);
    }
    temporary = name.data();
    auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        return std::optional<FileError>(ErrnoError(error));
    };
    // Keep an existing file's permission bits, owner and group (as far as the process may;
    // set-id and sticky bits are not carried over); a new file gets the usual ones.
    mode_t mode = 0666;
    if (exists) {
        mode = old.st_mode & 0777;
        if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0)
            (void)!::fchown(fd.get(), static_cast<uid_t>(-1), old.st_gid);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    if (::fchmod(fd.get(), mode) != 0) return fail(errno);
    if (auto error = WriteAll(calls, fd.get(), bytes)) return fail(error->number);
    if (::close(fd.release()) != 0) return fail(errno);
    if (calls.rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
    // The rename itself lasts only once the folder is on the disk.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) (void)::fsync(dir.get());
    return std::nullopt;
}

}  // namespace quillon
