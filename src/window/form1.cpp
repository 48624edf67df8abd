#include "window/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include "iic/iic.h"
#include "ui_form1.h"
#include "window/edid_grid.h"

// The pictures are compiled into this static library; their registration must be pulled in
// explicitly, from outside any namespace.
static void InitAssets() { Q_INIT_RESOURCE(assets); }

namespace quillon {

namespace {
constexpr char kVersionText[] = "Version 1.5";
constexpr std::uint32_t kReadTimeoutMs = 200;
}

Form1::Form1(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::Form1>()) {
    InitAssets();
    ui->setupUi(this);
    setFixedSize(988, 453);
    QFont resultFont(QStringLiteral("Courier"));
    resultFont.setStyleHint(QFont::TypeWriter);
    resultFont.setPointSizeF(9.75);
    ui->Result->setFont(resultFont);

    grids_ = std::make_unique<GridPair>(*ui->BinInfo, *ui->AscInfo);
    ui->BinInfo->SetCopiesSelection(true);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }
    StartUp();
    FocusFirstTabStop();
}

void Form1::FocusFirstTabStop() {
    // The focus starts on the first control in tab order that is shown and enabled.
    for (QWidget* w = ui->TextVal1; w != nullptr; w = w->nextInFocusChain()) {
        if (w->isVisibleTo(this) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus();
            return;
        }
        if (w->nextInFocusChain() == ui->TextVal1) {
            return;
        }
    }
}

Form1::~Form1() { ShutDown(); }

EdidGrid* Form1::hexGrid() const { return ui->BinInfo; }
EdidGrid* Form1::charGrid() const { return ui->AscInfo; }

void Form1::StartUp() {
    IowHandle = IowKitOpenDevice();
    if (IowHandle != 0) {
        ui->IICReadButton->setEnabled(true);
        ui->IICWriteButton->setEnabled(true);
    }
    // Sent whether or not an adapter answered; with none the calls do nothing.
    IowKitSetTimeout(IowHandle, kReadTimeoutMs);
    IicEnable(IowHandle, 1);
    VersionText = QString::fromLatin1(kVersionText);
    ui->VersionLabel->setText(VersionText);
    ByteCount = kByteCountTwoBlocks;
    ui->ProdID->setText(IdText(IowKitGetProductId(IowHandle)));
    ui->Revision->setText(IdText(IowKitGetRevision(IowHandle)));
    serialNumberResult_ = IowKitGetSerialNumber(IowHandle, serialBuffer_.data());
    ui->SerialNumber->setText(SerialText(serialBuffer_));
    ui->NDev->setText(QString::number(static_cast<std::int32_t>(IowKitGetNumDevs())));
    ui->DHandle->setText(QString::number(static_cast<std::int32_t>(IowKitGetDeviceHandle(1))));
    IowKitCloseDevice(IowHandle);
    IowHandle = 0;
    InitGrids();
}

void Form1::ShutDown() {
    if (IowHandle != 0) {
        IicEnable(IowHandle, 0);
        IowKitCloseDevice(IowHandle);
        IowHandle = 0;
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    closing_ = true;
    ShutDown();
    event->accept();
}

void Form1::InitGrids() { grids_->InitGrids(); }

bool Form1::RefreshGrids() {
    return ShowImage(EdidData, *grids_, [this] { return YieldToWindow(); });
}

bool Form1::YieldToWindow() {
    QCoreApplication::processEvents();
    return !closing_;
}

}  // namespace quillon
