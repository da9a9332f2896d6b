#pragma once

#include <QAbstractTableModel>

#include <cstdint>
#include <string_view>

namespace gq {

class SheetStore;

// The grid of one sheet over its store. The grid reaches a little past the stored cells and
// past the selection, so that the scroll bars measure the data and not the whole sheet.
class SheetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SheetModel(QObject* parent = nullptr);

    // Shows `store` (none: an empty grid while a sheet loads); the model does not own it.
    void setStore(const SheetStore* store);
    const SheetStore* store() const { return store_; }
    // Widens the grid so that the cell (1-based) lies inside it.
    void reach(std::uint32_t row, std::uint32_t col);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // What a cell shows on its one line: line breaks inside a text show as spaces.
    static QString shownText(std::string_view text);

private:
    const SheetStore* store_ = nullptr;
    int rows_ = 0;
    int columns_ = 0;
    std::uint32_t reachRow_ = 0, reachColumn_ = 0;
};

} // namespace gq
