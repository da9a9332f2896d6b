#pragma once

#include "WorkbookSearch.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gq {

// How the list shows a TAB of a cell text.
inline constexpr const char* kTabShownAs = "    ";

// The rows of the results list. Rows arrive one by one from a search but reach the view in
// batches (flush), so a million rows cost a few hundred insertions, not a million. A row takes
// 24 bytes plus its cell text: texts are packed into large blocks, a file and sheet pair is
// stored once, and a cell location is kept as its two numbers whenever the texts are the usual
// ones ("C7", "7", "3"). Rows live in fixed-size chunks, so growing never copies them.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { File, Sheet, Location, CellText, Row, Col, ColumnCount };

    explicit ResultsModel(QObject* parent = nullptr);
    ~ResultsModel() override;

    static const QStringList& headers();

    // Kept until the next flush; not yet a row of the model.
    void append(const ResultRow& row);
    // Hands the rows appended since the last flush to the view in one insertion.
    void flush();
    void clear();

    std::size_t pendingCount() const { return count_ - shown_; }
    // Every row, flushed or not.
    std::size_t totalCount() const { return count_; }
    ResultRow rowAt(std::size_t index) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // How a row keeps its location, row and col texts.
    enum class Kind : std::uint32_t { Numbers = 0, None = 1, Texts = 2 };

    struct Stored {
        const char* texts;        // the cell text; for Kind::Texts, three lengths and texts first
        std::uint32_t group;      // the file and sheet pair
        std::uint32_t textLength; // of the cell text
        std::uint32_t row;
        std::uint32_t colAndKind; // column in the low 30 bits, the kind in the top two
    };
    static_assert(sizeof(Stored) == 24);

    struct Group {
        std::string file;
        std::string sheet;
    };

    char* reserve(std::size_t size);
    const Stored& stored(std::size_t index) const;
    std::uint32_t groupOf(const std::string& file, const std::string& sheet);
    std::string text(const Stored& row, int column) const;

    std::vector<std::unique_ptr<Stored[]>> chunks_;
    std::size_t count_ = 0;
    std::size_t shown_ = 0;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t blockUsed_ = 0;
    std::size_t blockSize_ = 0;
    std::vector<Group> groups_;
    std::unordered_map<std::string, std::uint32_t> groupIds_;
    std::uint32_t lastGroup_ = 0;
};

} // namespace gq
