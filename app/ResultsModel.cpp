#include "ResultsModel.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace gq {

namespace {

constexpr std::size_t kBlockSize = 4 << 20;
constexpr std::size_t kChunkShift = 16;
constexpr std::size_t kChunkRows = std::size_t{1} << kChunkShift;
constexpr std::uint32_t kColumnMask = (1u << 30) - 1;

// A positive decimal number as a search writes it: digits only, no leading zero.
bool ParseNumber(const std::string& text, std::uint32_t limit, std::uint32_t& value) {
    if (text.empty() || text.size() > 10 || text[0] == '0')
        return false;
    std::uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > limit)
        return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

std::uint32_t Length(const std::string& text) {
    return static_cast<std::uint32_t>(
        std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

ResultsModel::~ResultsModel() = default;

const QStringList& ResultsModel::headers() {
    static const QStringList names{QStringLiteral("File"),     QStringLiteral("Sheet"),
                                   QStringLiteral("Location"), QStringLiteral("Cell Text"),
                                   QStringLiteral("row"),      QStringLiteral("col")};
    return names;
}

char* ResultsModel::reserve(std::size_t size) {
    if (blocks_.empty() || blockSize_ - blockUsed_ < size) {
        // A text larger than a block gets a block of its own.
        blockSize_ = std::max(kBlockSize, size);
        blocks_.push_back(std::make_unique<char[]>(blockSize_));
        blockUsed_ = 0;
    }
    char* at = blocks_.back().get() + blockUsed_;
    blockUsed_ += size;
    return at;
}

std::uint32_t ResultsModel::groupOf(const std::string& file, const std::string& sheet) {
    // A search adds its rows file by file and sheet by sheet: the last pair is nearly always it.
    if (lastGroup_ < groups_.size() && groups_[lastGroup_].sheet == sheet &&
        groups_[lastGroup_].file == file)
        return lastGroup_;
    std::string key = file;
    key += '\0';
    key += sheet;
    auto found = groupIds_.find(key);
    if (found == groupIds_.end()) {
        found = groupIds_.emplace(std::move(key), static_cast<std::uint32_t>(groups_.size())).first;
        groups_.push_back({file, sheet});
    }
    lastGroup_ = found->second;
    return lastGroup_;
}

void ResultsModel::append(const ResultRow& row) {
    Stored stored{};
    stored.group = groupOf(row.file, row.sheet);
    stored.textLength = Length(row.cellText);
    Kind kind = Kind::Texts;
    std::uint32_t number = 0, column = 0;
    if (row.location.empty() && row.row.empty() && row.col.empty()) {
        kind = Kind::None;
    } else if (ParseNumber(row.row, std::numeric_limits<std::uint32_t>::max(), number) &&
               ParseNumber(row.col, kColumnMask, column) &&
               row.location == ColumnLetters(static_cast<int>(column)) + row.row) {
        kind = Kind::Numbers;
        stored.row = number;
    }
    stored.colAndKind = (kind == Kind::Numbers ? column : 0) | static_cast<std::uint32_t>(kind)
                                                                   << 30;
    if (kind == Kind::Texts) {
        std::uint32_t lengths[3] = {Length(row.location), Length(row.row), Length(row.col)};
        char* at = reserve(sizeof lengths + std::size_t{lengths[0]} + lengths[1] + lengths[2] +
                           stored.textLength);
        stored.texts = at;
        std::memcpy(at, lengths, sizeof lengths);
        at += sizeof lengths;
        for (const std::string* part : {&row.location, &row.row, &row.col}) {
            std::uint32_t length = Length(*part);
            std::memcpy(at, part->data(), length);
            at += length;
        }
        std::memcpy(at, row.cellText.data(), stored.textLength);
    } else {
        char* at = reserve(stored.textLength);
        stored.texts = at;
        std::memcpy(at, row.cellText.data(), stored.textLength);
    }
    if ((count_ >> kChunkShift) == chunks_.size())
        chunks_.push_back(std::make_unique_for_overwrite<Stored[]>(kChunkRows));
    chunks_[count_ >> kChunkShift][count_ & (kChunkRows - 1)] = stored;
    ++count_;
}

const ResultsModel::Stored& ResultsModel::stored(std::size_t index) const {
    return chunks_[index >> kChunkShift][index & (kChunkRows - 1)];
}

void ResultsModel::flush() {
    // The view counts rows in an int; rows beyond that stay stored but unshown.
    std::size_t limit = std::min<std::size_t>(count_, std::numeric_limits<int>::max());
    if (shown_ >= limit)
        return;
    beginInsertRows(QModelIndex(), static_cast<int>(shown_), static_cast<int>(limit - 1));
    shown_ = limit;
    endInsertRows();
}

void ResultsModel::clear() {
    beginResetModel();
    chunks_.clear();
    count_ = shown_ = 0;
    blocks_.clear();
    blockUsed_ = blockSize_ = 0;
    groups_.clear();
    groupIds_.clear();
    lastGroup_ = 0;
    endResetModel();
}

std::string ResultsModel::text(const Stored& row, int column) const {
    auto kind = static_cast<Kind>(row.colAndKind >> 30);
    std::uint32_t col = row.colAndKind & kColumnMask;
    const char* texts = row.texts;
    std::uint32_t lengths[3] = {0, 0, 0};
    if (kind == Kind::Texts) {
        std::memcpy(lengths, texts, sizeof lengths);
        texts += sizeof lengths;
    }
    auto part = [&](int which) {
        const char* at = texts;
        for (int i = 0; i < which; ++i)
            at += lengths[i];
        return std::string(at, lengths[which]);
    };
    switch (column) {
    case File:
        return groups_[row.group].file;
    case Sheet:
        return groups_[row.group].sheet;
    case CellText:
        return std::string(texts + lengths[0] + lengths[1] + lengths[2], row.textLength);
    case Location:
        if (kind == Kind::Numbers)
            return ColumnLetters(static_cast<int>(col)) + std::to_string(row.row);
        return kind == Kind::Texts ? part(0) : std::string();
    case Row:
        if (kind == Kind::Numbers)
            return std::to_string(row.row);
        return kind == Kind::Texts ? part(1) : std::string();
    case Col:
        if (kind == Kind::Numbers)
            return std::to_string(col);
        return kind == Kind::Texts ? part(2) : std::string();
    default:
        return {};
    }
}

ResultRow ResultsModel::rowAt(std::size_t index) const {
    if (index >= count_)
        throw std::out_of_range("no such result row");
    const Stored& row = stored(index);
    return {text(row, File),     text(row, Sheet), text(row, Location),
            text(row, CellText), text(row, Row),   text(row, Col)};
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_);
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= shown_)
        return {};
    QString shown =
        QString::fromStdString(text(stored(static_cast<std::size_t>(index.row())), index.column()));
    // A TAB would jump to the list's next tab stop, far past a narrow column, and leave only
    // "…" of a line that starts with some; shown as spaces, the words stay in sight. Only the
    // list's display: every export reads the rows themselves.
    shown.replace(QLatin1Char('\t'), QLatin1String(kTabShownAs));
    return shown;
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColumnCount)
        return {};
    return headers().at(section);
}

} // namespace gq
