#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "image/edid_image.h"
#include "iow/iowkit.h"
#include "window/adapter_info_text.h"
#include "window/grid_pair.h"

namespace Ui {
class Form1;
}

class QFileDialog;

namespace quillon {

class EdidGrid;

// The program's one window. It owns the image, the byte count and the file texts, and every
// control; commands reach them through the narrow interfaces they are given.
class Form1 : public QWidget {
    Q_OBJECT

  public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Lays out and labels both grids; their byte cells become empty and unpainted.
    void InitGrids();
    // Redraws both grids from the image, all 256 bytes, with the progress mark, row shades
    // and bad-block marks. Returns false when the window closed during the pass.
    bool RefreshGrids();

    // Command gating: the wait pointer, and every control that could start another command
    // switched off (the I2C buttons only while IowHandle is non-zero); and back.
    void DisableButtons();
    void EnableButtons();

    const EdidImage& edidData() const { return EdidData; }
    void setEdidData(const EdidImage& image) { EdidData = image; }
    std::int16_t byteCount() const { return ByteCount; }
    QString versionText() const { return VersionText; }
    IowKitHandle iowHandle() const { return IowHandle; }
    QString resultText() const { return resultText_; }
    bool commandRunning() const { return commandRunning_; }
    const std::string& edidFile() const { return EdidFile; }
    const std::string& filePattern() const { return FilePattern; }

    EdidGrid* hexGrid() const;
    EdidGrid* charGrid() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private slots:
    void IICReadButton_Click();
    void IICWriteButton_Click();
    void Scan_Click();
    void ClearResult_Click();
    void ByteOption_Click(int index);
    void ReadFile_Click();
    void SaveFile_Click();

  private:
    class Commands;
    friend class Commands;
    class Files;
    friend class Files;

    // Runs `command` unless another one is running: no command ever runs inside another.
    template <typename Command>
    void RunCommand(Command&& command);
    // Closes a handle that Clear left open, before IowHandle is overwritten.
    void CloseHeldHandle();
    void SetResultText(const QString& text);
    bool ConfirmOverwrite();
    // A message box with only OK, no icon and the program's title.
    void ShowMessage(const QString& text);

    // Probes the adapter, switches its I2C function on, fills the adapter fields, closes it
    // again and lays out the grids. Runs once, before the window is shown.
    void StartUp();
    // Switches the I2C function off and closes the adapter, when a handle is held.
    void ShutDown();
    void FocusFirstTabStop();
    // Lets the window repaint and take input; false once the window is closing.
    bool YieldToWindow();

    std::unique_ptr<Ui::Form1> ui;
    std::unique_ptr<GridPair> grids_;

    IowKitHandle IowHandle = 0;
    EdidImage EdidData{};
    std::int16_t ByteCount = kByteCountTwoBlocks;
    QString VersionText;
    SerialBuffer serialBuffer_{};
    bool serialNumberResult_ = false;  // kept as the adapter library gave it
    QString resultText_;               // the result box's exact text, line ends included
    bool closing_ = false;
    bool commandRunning_ = false;
    std::string EdidFile;
    std::string FilePattern;
    QFileDialog* FS = nullptr;              // the window's one file dialog, for Open and Save
    QPointer<QWidget> focusBeforeCommand_;  // where the keys went when the command began
    std::unique_ptr<Commands> commands_;
    std::unique_ptr<Files> files_;
};

}  // namespace quillon
