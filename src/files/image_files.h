#pragma once

// The two EDID image formats. A raw image file holds the 256 bytes as they are; an XML image
// file holds them as hexadecimal text in /DATAOBJ/DATA/BLOCK0 and BLOCK1. Only raw files are
// written. Plain functions over paths; no widgets.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "files/file_error.h"
#include "image/edid_image.h"

namespace quillon {

// Files larger than this are refused instead of being read into memory.
inline constexpr long long kMaxImageFileBytes = 4LL * 1024 * 1024;

enum class ImageFormat { Raw, Xml };

// The format that a path's extension selects: the text after the last "." of the file's own
// name, compared with "XML" regardless of case. Everything else is raw.
ImageFormat FormatOf(std::string_view path);

// The XML parser could not load the document; `reason` is its own explanation.
struct ParserFailure {
    std::string reason;
};

// The image was filled; `fileBytes` is what the file held: a raw file's length, which may be
// shorter or longer than the image, or 128 for each block of an XML file.
struct ImageLoaded {
    long long fileBytes = 0;
};

// What a load came to: the image was filled, the parser failed (image unchanged), or a file
// error (image unchanged).
using LoadOutcome = std::variant<ImageLoaded, ParserFailure, FileError>;

// Both readers open the file without blocking and read only a regular file: a named pipe, a
// device or a socket is refused (kErrorNotRegularFile) rather than waited on for ever.

// Reads the raw image at `path`: its first 256 bytes; a shorter file fills the slots past its
// end with 0. The image changes only when the whole file was read.
LoadOutcome LoadRawImage(const std::string& path, EdidImage& image);

// What an XML file without any /DATAOBJ/DATA element gives: an all-zero image (the window, whose
// operator sees it before anything is written), or a file error, kErrorNoImage (a program that
// writes it straight into a memory).
enum class WithoutData { Zeros, Refused };

// Reads the XML image at `path`. The last /DATAOBJ/DATA element gives the blocks, each block's
// text being all the text and CDATA inside it; a DATA element without BLOCK0 or BLOCK1 is a
// file error.
LoadOutcome LoadXmlImage(const std::string& path, EdidImage& image,
                         WithoutData withoutData = WithoutData::Zeros);

// The same from a document already in memory.
LoadOutcome LoadXmlImageFromMemory(std::string_view text, EdidImage& image,
                                   WithoutData withoutData = WithoutData::Zeros);

// Chooses the reader by FormatOf(path).
LoadOutcome LoadImageFile(const std::string& path, EdidImage& image,
                          WithoutData withoutData = WithoutData::Zeros);

// The command line's reader: an image of any number of blocks, by FormatOf(path). A raw file's
// bytes as they are (read up to one past kLargestMemoryBytes: `fileBytes` tells the length);
// an XML file's BLOCK0 and BLOCK1 and every BLOCK2, BLOCK3 ... after them.
LoadOutcome LoadImageBytes(const std::string& path, EdidBytes& image, WithoutData withoutData);
LoadOutcome LoadXmlBytesFromMemory(std::string_view text, EdidBytes& image,
                                   WithoutData withoutData);

// Byte k (0..127) of a block text: the characters at positions 2k and 2k+1, without spaces,
// tabs and line feeds; their leading hexadecimal digits give the value ("1G" gives 1, "G1"
// gives 0). A pair beyond the end of the text gives 0.
std::uint8_t BlockTextByte(std::u32string_view text, int k);

// Fills 128 bytes from a block text, after white space around it is removed.
void DecodeBlockText(std::u32string_view text, std::uint8_t* block);

// Writes the first `byteCount` bytes (all 256 unless told) as a raw image file at `path`,
// replacing the file there. The new file
// is written beside the old one and renamed over it, so a failure part-way leaves the old file
// whole; the folder is synced after. A symbolic link is written through to the file it names
// (the link stays). The old file's permission bits (not set-id or sticky), owner and group are
// kept where the process may. A target that is not a regular file is refused. Where the folder
// takes no new file but the file itself can be written, it is written in place.
std::optional<FileError> WriteBinaryFile(const std::string& path,
                                         std::span<const std::uint8_t> image,
                                         int byteCount = kEdidBytes);

// The system calls through which WriteBinaryFile writes, so that tests can make a folder
// refuse the new file or the disk fill up. Each follows the system call's own contract.
struct FileWriteCalls {
    int (*makeTemporary)(char* pattern);  // mkostemp(pattern, O_CLOEXEC)
    long (*write)(int fd, const void* data, std::size_t size);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
};

// Uses `calls` from now on; nullptr restores the real ones. The caller keeps them alive.
void UseFileWriteCalls(const FileWriteCalls* calls);

// The real calls, for a fake that changes only some of them.
const FileWriteCalls& RealFileWriteCalls();

}  // namespace quillon
