#include "files/file_commands.h"

#include <variant>

#include "files/image_files.h"

namespace quillon {

namespace {

// Shows the dialog and loads the chosen file. Reports its own failures.
void ReadBinaryFile(FileCommandWindow& window) {
    window.FilePattern() = kInitialFilePattern;
    window.DisableButtons();
    const std::optional<std::string> chosen =
        window.ShowFileDialog(OpenDialogSettings(window.FilePattern()));
    if (!chosen) {
        window.FilePattern().clear();
        return;
    }
    window.EdidFile() = *chosen;
    if (window.FilePattern() == window.EdidFile()) {
        return;
    }
    const LoadOutcome outcome = LoadImageFile(window.EdidFile(), window.EdidData());
    if (const auto* failure = std::get_if<ParserFailure>(&outcome)) {
        window.ShowParserReason(failure->reason);
    } else if (const auto* error = std::get_if<FileError>(&outcome)) {
        window.ShowFileError(*error);
    }
}

}  // namespace

FileDialogSettings OpenDialogSettings(const std::string& filePattern) {
    FileDialogSettings settings;
    settings.mode = FileDialogSettings::Mode::Open;
    settings.title = "Select the name of the file to READ";
    settings.defaultExtension = "hex";
    settings.filterDescription = "Tavrin Files (*.hex;*.HEX;*.bin;*.BIN;*.xml,*.XML)";
    settings.filterPatterns = "*.hex;*.HEX;*.bin;*.BIN;*.xml;*.XML";
    settings.initialFileName = filePattern + ";*.bin" + ";*.xml";
    settings.confirmOverwrite = false;
    return settings;
}

FileDialogSettings SaveDialogSettings(const std::string& filePattern) {
    FileDialogSettings settings;
    settings.mode = FileDialogSettings::Mode::Save;
    settings.title = "Select the name of the file to SAVE";
    settings.defaultExtension = "hex";
    settings.filterDescription = "Tavrin Files (*.hex;*.HEX;*.bin;*.BIN)";
    settings.filterPatterns = "*.HEX;*.bin;*.BIN";
    settings.initialFileName = filePattern + ";*.bin";
    settings.confirmOverwrite = true;
    return settings;
}

void OpenImageFile(FileCommandWindow& window) {
    window.DisableButtons();
    ReadBinaryFile(window);
    if (!window.EdidFile().empty() && window.FilePattern() != window.EdidFile()) {
        window.RefreshGrids();  // all 256 bytes, whatever the byte count
    }
    window.EnableButtons();
}

void SaveImageFile(FileCommandWindow& window) {
    window.FilePattern() = kInitialFilePattern;
    window.DisableButtons();
    const std::optional<std::string> chosen =
        window.ShowFileDialog(SaveDialogSettings(window.FilePattern()));
    if (chosen) {
        window.EdidFile() = *chosen;
        if (window.FilePattern() != window.EdidFile()) {
            if (const std::optional<FileError> error =
                    WriteBinaryFile(window.EdidFile(), window.EdidData())) {
                window.ShowFileError(*error);
            }
        }
    }
    window.EnableButtons();
}

}  // namespace quillon
