#include "files/file_error.h"

#include <cstring>

namespace quillon {

std::string FileErrorMessage(const FileError& error) {
    std::string text = "Error Number: ";
    if (error.number >= 0) text += ' ';
    text += std::to_string(error.number);
    text += "\r\nError Msg   : ";
    text += error.description;
    return text;
}

FileError ErrnoError(int errnoValue) { return FileError{errnoValue, std::strerror(errnoValue)}; }

}  // namespace quillon
