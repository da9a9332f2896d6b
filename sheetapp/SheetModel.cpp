#include "SheetModel.h"

#include "SheetStore.h"
#include "Spreadsheet.h"
#include "WorkbookSearch.h"

#include <algorithm>

namespace gq {

namespace {

// Beyond the data the grid keeps this much room, as an empty sheet shows it.
constexpr std::uint32_t kSpareRows = 50, kMinRows = 100;
constexpr std::uint32_t kSpareColumns = 10, kMinColumns = 26;

int Extent(std::uint32_t used, std::uint32_t spare, std::uint32_t least, std::uint32_t limit) {
    return static_cast<int>(std::min<std::uint64_t>(
        std::max<std::uint64_t>(std::uint64_t(used) + spare, least), limit));
}

} // namespace

SheetModel::SheetModel(QObject* parent) : QAbstractTableModel(parent) {
    setStore(nullptr);
}

void SheetModel::setStore(const SheetStore* store) {
    beginResetModel();
    store_ = store;
    reachRow_ = reachColumn_ = 0;
    std::uint32_t lastRow = store ? store->lastRow() : 0;
    std::uint32_t lastColumn = store ? store->lastColumn() : 0;
    rows_ = Extent(lastRow, kSpareRows, kMinRows, kSheetRows);
    columns_ = Extent(lastColumn, kSpareColumns, kMinColumns, kSheetColumns);
    endResetModel();
}

void SheetModel::reach(std::uint32_t row, std::uint32_t col) {
    int rows = std::max(rows_, Extent(row, kSpareRows, kMinRows, kSheetRows));
    int columns = std::max(columns_, Extent(col, kSpareColumns, kMinColumns, kSheetColumns));
    if (rows > rows_) {
        beginInsertRows(QModelIndex(), rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    }
    if (columns > columns_) {
        beginInsertColumns(QModelIndex(), columns_, columns - 1);
        columns_ = columns;
        endInsertColumns();
    }
}

int SheetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int SheetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QString SheetModel::shownText(std::string_view text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    for (QChar& c : shown)
        if (c == u'\n' || c == u'\r')
            c = u' ';
    return shown;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const {
    if (!store_ || !index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::TextAlignmentRole))
        return {};
    std::string_view text = store_->text(static_cast<std::uint32_t>(index.row() + 1),
                                         static_cast<std::uint32_t>(index.column() + 1));
    if (text.empty())
        return {};
    if (role ==
        Qt::TextAlignmentRole) // numbers, dates and times at the right, as a sheet shows them
        return QVariant(Qt::AlignVCenter |
                        (store_->isNumber(static_cast<std::uint32_t>(index.row() + 1),
                                          static_cast<std::uint32_t>(index.column() + 1))
                             ? Qt::AlignRight
                             : Qt::AlignLeft));
    if (role == Qt::ToolTipRole)
        return text.find_first_of("\r\n") == std::string_view::npos
                   ? QVariant()
                   : QVariant(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    return shownText(text);
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return QString::fromStdString(ColumnLetters(section + 1));
    return QString::number(section + 1);
}

} // namespace gq
