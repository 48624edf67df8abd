#pragma once

// The Open and Save commands over the narrow interface that the window gives them.

#include <optional>
#include <string>

#include "files/file_error.h"
#include "image/edid_image.h"

namespace quillon {

// What the file dialog is set to before it is shown.
struct FileDialogSettings {
    enum class Mode { Open, Save };
    Mode mode = Mode::Open;
    std::string title;
    std::string defaultExtension;  // appended to a typed name without one
    std::string filterDescription;
    std::string filterPatterns;  // separated by ";"
    std::string initialFileName;
    bool confirmOverwrite = false;
};

// The two dialogs' settings; the initial file name starts with `filePattern`.
FileDialogSettings OpenDialogSettings(const std::string& filePattern);
FileDialogSettings SaveDialogSettings(const std::string& filePattern);

class FileCommandWindow {
  public:
    virtual ~FileCommandWindow() = default;
    virtual void DisableButtons() = 0;
    virtual void EnableButtons() = 0;
    // Shows the file dialog in the program's folder; the chosen path, or nothing when the
    // operator cancelled.
    virtual std::optional<std::string> ShowFileDialog(const FileDialogSettings& settings) = 0;
    virtual void ShowFileError(const FileError& error) = 0;
    // The XML parser's reason why a document did not load.
    virtual void ShowParserReason(const std::string& reason) = 0;
    virtual EdidImage& EdidData() = 0;
    virtual std::string& EdidFile() = 0;
    virtual std::string& FilePattern() = 0;
    // Redraws both grids from the image. False when the window closed meanwhile.
    virtual bool RefreshGrids() = 0;
};

inline constexpr char kInitialFilePattern[] = "*.hex";

// Open: lets the operator choose an image file, loads it and redraws the grids.
void OpenImageFile(FileCommandWindow& window);

// Save: lets the operator choose a name and writes the image there as a raw file.
void SaveImageFile(FileCommandWindow& window);

}  // namespace quillon
