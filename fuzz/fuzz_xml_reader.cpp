// The XML image reader on arbitrary documents. Every input either loads or ends in the
// parser's reason or a file error, and only a load changes the image.
#include <cstdlib>
#include <string_view>
#include <variant>

#include "files/file_error.h"
#include "files/image_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillon::EdidImage image;
    image.fill(0x5A);
    const quillon::LoadOutcome outcome = quillon::LoadXmlImageFromMemory(
        std::string_view(reinterpret_cast<const char*>(data), size), image);
    if (std::holds_alternative<quillon::ImageLoaded>(outcome)) return 0;
    if (const auto* failure = std::get_if<quillon::ParserFailure>(&outcome)) {
        if (failure->reason.empty()) std::abort();
    } else if (const auto* error = std::get_if<quillon::FileError>(&outcome)) {
        if (quillon::FileErrorMessage(*error).find("\r\nError Msg   : ") == std::string::npos)
            std::abort();
    }
    for (std::uint8_t b : image) {
        if (b != 0x5A) std::abort();
    }
    return 0;
}
