#include "window/form1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

#include "commands/command_window.h"
#include "commands/device_commands.h"
#include "files/file_commands.h"
#include "files/file_error.h"
#include "iic/iic.h"
#include "iic/iow_i2c_bus.h"
#include "ui_form1.h"
#include "window/edid_grid.h"

// The pictures are compiled into this static library; their registration must be pulled in
// explicitly, from outside any namespace.
static void InitAssets() { Q_INIT_RESOURCE(assets); }

namespace quillon {

namespace {
constexpr char kVersionText[] = "Version 1.5";
constexpr int kOptionTextPixels = 10;

// Opens the adapter and gives it the window's read time-out, also when it was first found after
// start-up (the backend's own default is five times longer).
IowKitHandle OpenDeviceWithTimeout() {
    const IowKitHandle handle = IowKitOpenDevice();
    IowKitSetTimeout(handle, kReadTimeoutMs);
    return handle;
}

// A name that still holds a wildcard is the name field's initial pattern, accepted without a
// file chosen.
bool HoldsWildcard(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.contains(u'*') || name.contains(u'?');
}

void CloseOpenPopups() {
    for (int k = 0; k < 8 && QApplication::activePopupWidget() != nullptr; ++k) {
        QApplication::activePopupWidget()->close();
    }
}
}  // namespace

// The window's state and controls as the device commands see them.
class Form1::Commands : public CommandWindow {
  public:
    explicit Commands(Form1& form) : form_(form) {}

    IowKitHandle OpenAdapter() override {
        form_.CloseHeldHandle();
        form_.IowHandle = OpenDeviceWithTimeout();
        return form_.IowHandle;
    }
    void CloseAdapter() override { IowKitCloseDevice(form_.IowHandle); }
    void ResetHandle() override { form_.IowHandle = 0; }
    IowKitHandle Handle() const override { return form_.IowHandle; }
    void DisableButtons() override { form_.DisableButtons(); }
    void EnableButtons() override { form_.EnableButtons(); }
    bool YieldToWindow() override { return form_.YieldToWindow(); }
    std::int16_t ByteCount() const override { return form_.ByteCount; }
    EdidImage& EdidData() override { return form_.EdidData; }
    GridViews& Grids() override { return *form_.grids_; }
    bool ConfirmOverwrite() override { return form_.ConfirmOverwrite(); }
    std::string ResultText() const override { return form_.resultText_.toStdString(); }
    void SetResultText(const std::string& text) override {
        form_.SetResultText(QString::fromStdString(text));
    }

  private:
    Form1& form_;
};

// The window's state, its file dialog and its message boxes as Open and Save see them.
class Form1::Files : public FileCommandWindow {
  public:
    explicit Files(Form1& form) : form_(form) {}

    void DisableButtons() override { form_.DisableButtons(); }
    void EnableButtons() override { form_.EnableButtons(); }
    std::optional<std::string> ShowFileDialog(const FileDialogSettings& settings) override {
        QFileDialog& dialog = *form_.FS;
        const bool open = settings.mode == FileDialogSettings::Mode::Open;
        dialog.setWindowTitle(QString::fromStdString(settings.title));
        dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QString::fromStdString(settings.defaultExtension));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !settings.confirmOverwrite);
        // Qt takes a filter's patterns from its last parentheses, split at blanks; the
        // description keeps its own text, and the pattern group is hidden from view.
        const QString patterns =
            QString::fromStdString(settings.filterPatterns).replace(u';', u' ');
        dialog.setNameFilter(QString::fromStdString(settings.filterDescription) +
                             QStringLiteral(" (") + patterns + u')');
        // The program's folder where it can be written (not /usr/bin), else the home folder.
        const QString programFolder = QCoreApplication::applicationDirPath();
        dialog.setDirectory(QFileInfo(programFolder).isWritable() ? programFolder
                                                                  : QDir::homePath());
        dialog.selectFile(QString::fromStdString(settings.initialFileName));
        const int answer = dialog.exec();
        // Return typed while the name's completion list is open accepts the dialog but leaves
        // the list open, holding the pointer: the operator's next click would only close it.
        CloseOpenPopups();
        if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty() ||
            HoldsWildcard(dialog.selectedFiles().first())) {
            return std::nullopt;
        }
        return dialog.selectedFiles().first().toStdString();
    }
    void ShowFileError(const FileError& error) override {
        form_.ShowMessage(QString::fromStdString(FileErrorMessage(error)));
    }
    void ShowParserReason(const std::string& reason) override {
        form_.ShowMessage(QString::fromStdString(reason));
    }
    EdidImage& EdidData() override { return form_.EdidData; }
    std::string& EdidFile() override { return form_.EdidFile; }
    std::string& FilePattern() override { return form_.FilePattern; }
    bool RefreshGrids() override { return form_.RefreshGrids(); }

  private:
    Form1& form_;
};

Form1::Form1(QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::Form1>()),
      commands_(std::make_unique<Commands>(*this)),
      files_(std::make_unique<Files>(*this)) {
    InitAssets();
    // Ties the window to the installed desktop entry, so that a Wayland dock shows its icon
    // and software centres find it running.
    QGuiApplication::setDesktopFileName(QStringLiteral("orvane-quillon"));
    ui->setupUi(this);
    setFixedSize(988, 453);
    QFont resultFont(QStringLiteral("Courier"));
    resultFont.setStyleHint(QFont::TypeWriter);
    resultFont.setPointSizeF(9.75);
    ui->Result->setFont(resultFont);
    // The option texts sit level with their 13-pixel circles and clear of the picture's dark
    // line just below the lower one: top-aligned, in a font whose letters, descenders
    // included, fit that height.
    for (QLabel* optionText : {ui->Label1, ui->Label2}) {
        QFont font = optionText->font();
        font.setPixelSize(kOptionTextPixels);
        optionText->setFont(font);
        optionText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    FS = new QFileDialog(this);
    FS->setObjectName(QStringLiteral("FS"));
    FS->setOption(QFileDialog::DontUseNativeDialog, true);
    FS->setOption(QFileDialog::HideNameFilterDetails, true);

    grids_ = std::make_unique<GridPair>(*ui->BinInfo, *ui->AscInfo);
    ui->BinInfo->SetCopiesSelection(true);

    auto* byteOption = new QButtonGroup(this);
    byteOption->addButton(ui->ByteOption_0, 0);
    byteOption->addButton(ui->ByteOption_1, 1);
    connect(byteOption, &QButtonGroup::idClicked, this, &Form1::ByteOption_Click);
    connect(ui->IICReadButton, &QPushButton::clicked, this, &Form1::IICReadButton_Click);
    connect(ui->IICWriteButton, &QPushButton::clicked, this, &Form1::IICWriteButton_Click);
    connect(ui->Scan, &QPushButton::clicked, this, &Form1::Scan_Click);
    connect(ui->ClearResult, &QPushButton::clicked, this, &Form1::ClearResult_Click);
    connect(ui->ReadFile, &QPushButton::clicked, this, &Form1::ReadFile_Click);
    connect(ui->SaveFile, &QPushButton::clicked, this, &Form1::SaveFile_Click);

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
    IowHandle = OpenDeviceWithTimeout();
    if (IowHandle != 0) {
        ui->IICReadButton->setEnabled(true);
        ui->IICWriteButton->setEnabled(true);
    }
    // Sent whether or not an adapter answered; with none it does nothing.
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

void Form1::DisableButtons() {
    // One wait pointer however often this runs; EnableButtons takes it away again.
    if (QApplication::overrideCursor() == nullptr) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    // Disabling the focused button moves the keyboard focus on to the next control; it comes
    // back when the command ends, so the next key press lands where it did before.
    if (focusBeforeCommand_ == nullptr) {
        focusBeforeCommand_ = focusWidget();  // also while a dialog still holds the keys
    }
    ui->ByteOption_0->setEnabled(false);
    ui->ByteOption_1->setEnabled(false);
    if (IowHandle != 0) {
        ui->IICWriteButton->setEnabled(false);
        ui->IICReadButton->setEnabled(false);
    }
    ui->SaveFile->setEnabled(false);
    ui->ReadFile->setEnabled(false);
    ui->ClearResult->setEnabled(false);
}

void Form1::EnableButtons() {
    if (ByteCount == kByteCountOneBlock) {
        ui->ByteOption_0->setEnabled(true);
        ui->ByteOption_1->setEnabled(true);
        ui->ByteOption_0->setChecked(true);
    } else {
        ui->ByteOption_1->setEnabled(true);
        ui->ByteOption_0->setEnabled(true);
        ui->ByteOption_1->setChecked(true);
    }
    if (IowHandle != 0) {
        ui->IICWriteButton->setEnabled(true);
        ui->IICReadButton->setEnabled(true);
    }
    ui->SaveFile->setEnabled(true);
    ui->ReadFile->setEnabled(true);
    ui->ClearResult->setEnabled(true);
    while (QApplication::overrideCursor() != nullptr) {
        QApplication::restoreOverrideCursor();
    }
    if (focusBeforeCommand_ != nullptr && focusBeforeCommand_->isEnabled()) {
        focusBeforeCommand_->setFocus(Qt::OtherFocusReason);
    }
    focusBeforeCommand_ = nullptr;
}

template <typename Command>
void Form1::RunCommand(Command&& command) {
    if (commandRunning_ || closing_) {
        return;  // a click that arrived during another command's yield
    }
    commandRunning_ = true;
    command();
    commandRunning_ = false;
}

void Form1::CloseHeldHandle() {
    if (IowHandle != 0) {
        IowKitCloseDevice(IowHandle);
    }
}

void Form1::SetResultText(const QString& text) {
    resultText_ = text;
    ui->Result->setPlainText(text);
}

bool Form1::ConfirmOverwrite() {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("EDID Overwrite"),
                    QStringLiteral("Do you wish to overwrite the EDID of the Connected Device?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}

void Form1::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, this);
    box.exec();
}

void Form1::ReadFile_Click() {
    RunCommand([this] { OpenImageFile(*files_); });
}

void Form1::SaveFile_Click() {
    RunCommand([this] { SaveImageFile(*files_); });
}

void Form1::IICReadButton_Click() {
    RunCommand([this] { ReadEdid(*commands_); });
}

void Form1::IICWriteButton_Click() {
    RunCommand([this] { WriteEdid(*commands_); });
}

void Form1::Scan_Click() {
    RunCommand([this] { ScanBus(*commands_); });
}

void Form1::ClearResult_Click() {
    RunCommand([this] {
        DisableButtons();
        SetResultText(QString());
        InitGrids();
        CloseHeldHandle();
        IowHandle = OpenDeviceWithTimeout();  // left open until the next device command
        EdidData.fill(0);
        EnableButtons();
    });
}

void Form1::ByteOption_Click(int index) {
    if (index == 0) {
        ByteCount = kByteCountOneBlock;
    } else if (index == 1) {
        ByteCount = kByteCountTwoBlocks;
    }
}

bool Form1::RefreshGrids() {
    return ShowImage(EdidData, *grids_, [this] { return YieldToWindow(); });
}

bool Form1::YieldToWindow() {
    QCoreApplication::processEvents();
    return !closing_;
}

}  // namespace quillon
