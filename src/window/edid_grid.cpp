#include "window/edid_grid.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <cmath>

#include "image/byte_cells.h"

namespace quillon {

namespace {


QString TwoDigitHex(int value) {
    return QString::fromStdString(HexText(static_cast<std::uint8_t>(value)));
}

// Centres every cell's text and lets the current cell show its painted colour instead of
// the selection colour.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->displayAlignment = Qt::AlignCenter;
        option->features &= ~QStyleOptionViewItem::WrapText;
        const auto* view = qobject_cast<const QAbstractItemView*>(option->widget);
        if (view != nullptr && view->currentIndex() == index &&
            index.data(Qt::BackgroundRole).isValid()) {
            option->state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        }
    }
};

}  // namespace

EdidGrid::EdidGrid(QWidget* parent) : QTableWidget(kGridLines, kGridLines, parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setMinimumSectionSize(1);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setItemDelegate(new CellDelegate(this));

    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(8.25);
    setFont(font);

    setStyleSheet(QStringLiteral("QTableView { background-color: #dcdcdc; gridline-color: #c0c0c0;"
                                 " selection-background-color: #dcdcdc; selection-color: black; }"));

    // Look at creation; InitGrid relabels the header row without the blanks.
    SetHeaderCell(0, 0, QString());
    for (int column = 1; column < kGridLines; ++column) {
        SetHeaderCell(0, column, QStringLiteral(" %1 ").arg(TwoDigitHex(column - 1)));
    }
}

void EdidGrid::InitGrid() {
    const int outerWidth = width();
    setColumnCount(kGridLines);
    setRowCount(0);
    insertRow(0);
    SetHeaderCell(0, 0, QString());
    for (int column = 1; column < kGridLines; ++column) {
        SetHeaderCell(0, column, TwoDigitHex(column - 1));
    }
    setRowCount(kGridLines);
    setWordWrap(false);
    const int columnWidth = static_cast<int>(std::lround(outerWidth / double(kGridLines)));
    for (int column = 0; column < kGridLines; ++column) {
        setColumnWidth(column, columnWidth);
    }
    // Rows share the height so that all 17 stay visible without a scroll bar.
    const int rowHeight = std::max(1, height() / kGridLines);
    for (int row = 0; row < kGridLines; ++row) {
        setRowHeight(row, rowHeight);
    }
    for (int row = 1; row < rowCount(); ++row) {
        SetHeaderCell(row, 0, TwoDigitHex(row - 1));
    }
}

void EdidGrid::SetHeaderCell(int row, int column, const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(palette().color(QPalette::Button));
    item->setForeground(palette().color(QPalette::ButtonText));
    setItem(row, column, item);
}

QTableWidgetItem* EdidGrid::CellItem(int row, int column) {
    QTableWidgetItem* cell = item(row, column);
    if (cell == nullptr) {
        cell = new QTableWidgetItem();
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, column, cell);
    }
    return cell;
}

void EdidGrid::MoveCurrentCell(int row, int column) {
    setCurrentCell(row, column, QItemSelectionModel::ClearAndSelect);
}

void EdidGrid::PaintCell(int row, int column, QColor colour) {
    CellItem(row, column)->setBackground(colour);
}

void EdidGrid::SetCellText(int row, int column, const QString& text) {
    CellItem(row, column)->setText(text);
}

QString EdidGrid::CellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

QColor EdidGrid::CellColour(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    if (cell == nullptr || !cell->data(Qt::BackgroundRole).isValid()) {
        return {};
    }
    return cell->background().color();
}

QString EdidGrid::SelectionText() const {
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty()) {
        return {};
    }
    const QTableWidgetSelectionRange& range = ranges.first();
    QStringList rows;
    for (int row = range.topRow(); row <= range.bottomRow(); ++row) {
        QStringList cells;
        for (int column = range.leftColumn(); column <= range.rightColumn(); ++column) {
            cells << CellText(row, column);
        }
        rows << cells.join(QLatin1Char('\t'));
    }
    return rows.join(QLatin1Char('\r'));
}

void EdidGrid::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy) || event->text() == QStringLiteral("\x03")) {
        if (copiesSelection_) {
            QClipboard* clipboard = QGuiApplication::clipboard();
            clipboard->clear();
            clipboard->setText(SelectionText());
        }
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

}  // namespace quillon
