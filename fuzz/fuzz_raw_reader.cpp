// The raw image reader on arbitrary file contents. Every input either loads, giving its first
// 256 bytes and zeros after, or ends in a file error with the image unchanged.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>

#include "files/file_error.h"
#include "files/image_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("raw-image", MFD_CLOEXEC);
    if (fd < 0) return 0;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    quillon::EdidImage image;
    image.fill(0xA5);
    const quillon::LoadOutcome outcome =
        quillon::LoadRawImage("/proc/self/fd/" + std::to_string(fd), image);
    close(fd);
    if (std::holds_alternative<quillon::ImageLoaded>(outcome)) {
        for (std::size_t k = 0; k < image.size(); ++k) {
            if (image[k] != (k < size ? data[k] : 0)) std::abort();
        }
    } else if (const auto* error = std::get_if<quillon::FileError>(&outcome)) {
        if (quillon::FileErrorMessage(*error).rfind("Error Number: ", 0) != 0) std::abort();
        for (std::uint8_t b : image) {
            if (b != 0xA5) std::abort();
        }
    } else {
        std::abort();  // the raw reader never reports a parser failure
    }
    return 0;
}
