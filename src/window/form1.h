#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

#include "image/edid_image.h"
#include "window/grid_pair.h"

namespace Ui {
class Form1;
}

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

    const EdidImage& edidData() const { return EdidData; }
    void setEdidData(const EdidImage& image) { EdidData = image; }
    std::int16_t byteCount() const { return ByteCount; }
    QString versionText() const { return VersionText; }

    EdidGrid* hexGrid() const;
    EdidGrid* charGrid() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void StartUp();
    void FocusFirstTabStop();
    // Lets the window repaint and take input; false once the window is closing.
    bool YieldToWindow();

    std::unique_ptr<Ui::Form1> ui;
    std::unique_ptr<GridPair> grids_;

    EdidImage EdidData{};
    std::int16_t ByteCount = kByteCountTwoBlocks;
    QString VersionText;
    bool closing_ = false;
};

}  // namespace quillon
