#pragma once

#include <string>

namespace quillon {

// A failure of a file operation: the operating system's error number and text where there is
// one, else one of the numbers below.
struct FileError {
    int number = 0;
    std::string description;
    friend bool operator==(const FileError&, const FileError&) = default;
};

inline constexpr int kErrorMissingBlock0 = 1000;   // a DATA element without BLOCK0
inline constexpr int kErrorMissingBlock1 = 1001;   // a DATA element without BLOCK1
inline constexpr int kErrorNotRegularFile = 1002;  // a named pipe, a device, a socket
inline constexpr int kErrorNoImage = 1003;         // an XML file without /DATAOBJ/DATA

// The file error message's text: "Error Number: ", the number (a blank before it when not
// negative), a line break, "Error Msg   : " and the description.
std::string FileErrorMessage(const FileError& error);

// The error for the current errno, with the system's text.
FileError ErrnoError(int errnoValue);

}  // namespace quillon
