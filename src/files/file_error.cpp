#include "files/file_error.h"

#include <cstring>

namespace quillon {

std::string FileErrorMessage(const FileError& error) {
    const std::string number = error.number < 0 ? std::to_string(error.number)
                                                : " " + std::to_string(error.number);
    return "Error Number: " + number + "\r\nError Msg   : " + error.description;
}

FileError ErrnoError(int errnoValue) { return FileError{errnoValue, std::strerror(errnoValue)}; }

}  // namespace quillon
