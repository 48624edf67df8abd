#include "window/edid_grid.h"

#include <QApplication>
#include <QClipboard>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <cmath>

#include "image/byte_cells.h"

namespace quillon {

namespace {

QString TwoDigitHex(int value) {
    return QString::fromStdString(HexText(static_cast<std::uint8_t>(value)));
}

// Paints a cell: its background (the painted colour, the selection grey for a selected cell
// other than the current one, or the grid's base) and its text, centred on one line. The
// texts are few ("00".."FF", single characters, labels), so their laid-out form is cached:
// the grids repaint twice per byte during a command, and laying text out is what costs.
class CellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
        const bool current = view != nullptr && view->currentIndex() == index;
        const QVariant painted = index.data(Qt::BackgroundRole);
        QColor background = option.palette.color(QPalette::Base);
        if ((option.state & QStyle::State_Selected) && !(current && painted.isValid())) {
            background = option.palette.color(QPalette::Highlight);
        } else if (painted.isValid()) {
            background = painted.value<QBrush>().color();
        }
        painter->fillRect(option.rect, background);
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty()) return;
        const QVariant foreground = index.data(Qt::ForegroundRole);
        painter->setPen(foreground.isValid() ? foreground.value<QBrush>().color()
                                             : option.palette.color(QPalette::Text));
        painter->setFont(option.font);
        QStaticText& laidOut = texts_[text];
        if (laidOut.text().isEmpty()) {
            laidOut.setText(text);
            laidOut.setTextFormat(Qt::PlainText);
            laidOut.prepare(QTransform(), option.font);
        }
        const QSizeF size = laidOut.size();
        painter->drawStaticText(
            QPointF(option.rect.x() + (option.rect.width() - size.width()) / 2.0,
                    option.rect.y() + (option.rect.height() - size.height()) / 2.0),
            laidOut);
    }

  private:
    mutable QHash<QString, QStaticText> texts_;
};

// The grid lines in their own grey, whatever the platform style says.
class GridLineStyle : public QProxyStyle {
  public:
    explicit GridLineStyle(QStyle* base) : QProxyStyle(base->name()) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_Table_GridLineColor) return static_cast<int>(0xFF000000u | kGridLineColour);
        return QProxyStyle::styleHint(hint, option, widget, data);
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
    // The grid covers what lies beneath it: the background picture need not be repainted
    // (and rescaled) under every cell update.
    setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);

    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(8.25);
    setFont(font);

    // Colours through the palette and a proxy style rather than a style sheet: a style sheet
    // makes every cell paint several times slower, and the grids repaint twice per byte.
    auto* gridStyle = new GridLineStyle(style());
    gridStyle->setParent(this);  // setStyle does not take ownership
    setStyle(gridStyle);
    QPalette colours = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Base, QColor::fromRgb(kCellBackground));
        colours.setColor(group, QPalette::Highlight, QColor::fromRgb(kCellBackground));
        colours.setColor(group, QPalette::HighlightedText, QColor(Qt::black));
    }
    setPalette(colours);

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
