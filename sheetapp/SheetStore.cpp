#include "SheetStore.h"

#include "Error.h"

#include <algorithm>
#include <limits>
#include <queue>

namespace gq {

namespace {

constexpr std::uint32_t kMaxColumn = 16384;

void CheckRoom(std::size_t bytes, std::size_t more) {
    if (bytes + more > std::numeric_limits<std::uint32_t>::max())
        throw Error("The sheet holds more text than the window can show");
}

} // namespace

std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            ++units;
        if (c >= 0xF0) // four bytes: a surrogate pair
            ++units;
    }
    return units;
}

void SheetStore::add(std::uint32_t row, std::uint32_t col, std::string_view text, bool number) {
    if (row < 1 || col < 1 || col > kMaxColumn)
        return;
    finished_ = false;
    bool inOrder = rows_.empty() || row > rows_.back().row ||
                   (row == rows_.back().row && col - 1 > columns_.back());
    if (!inOrder) {
        CheckRoom(lateText_.size(), text.size());
        late_.push_back({row, col, static_cast<std::uint32_t>(lateText_.size()),
                         static_cast<std::uint32_t>(text.size()),
                         static_cast<std::uint32_t>(late_.size()), number});
        lateText_.append(text);
        return;
    }
    CheckRoom(text_.size(), text.size());
    if (rows_.empty() || row != rows_.back().row)
        rows_.push_back({row, static_cast<std::uint32_t>(columns_.size())});
    columns_.push_back(static_cast<std::uint16_t>(col - 1));
    offsets_.push_back(static_cast<std::uint32_t>(text_.size()));
    numbers_.push_back(number);
    text_.append(text);
    lastColumn_ = std::max(lastColumn_, col);
}

void SheetStore::finish() {
    if (!late_.empty())
        rebuild();
    text_.shrink_to_fit();
    rows_.shrink_to_fit();
    columns_.shrink_to_fit();
    offsets_.shrink_to_fit();
    numbers_.shrink_to_fit();
    finished_ = true;
}

// Puts the cells that came out of order in their places; the later text of a cell wins.
void SheetStore::rebuild() {
    struct Entry {
        std::uint32_t row, col;
        std::uint64_t order; // arrival: in-order cells first by position, late ones after
        std::string_view text;
        bool number;
    };
    std::vector<Entry> entries;
    entries.reserve(columns_.size() + late_.size());
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        std::size_t end = r + 1 < rows_.size() ? rows_[r + 1].firstCell : columns_.size();
        for (std::size_t cell = rows_[r].firstCell; cell < end; ++cell)
            entries.push_back(
                {rows_[r].row, columns_[cell] + 1u, cell, cellText(cell), numbers_[cell]});
    }
    // A late cell arrived after every in-order cell that precedes it in the list, so order
    // among duplicates goes by arrival among the late ones, after the in-order one.
    for (const Late& late : late_)
        entries.push_back({late.row, late.col, (std::uint64_t(1) << 32) + late.order,
                           std::string_view(lateText_).substr(late.offset, late.length),
                           late.number});
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.row != b.row ? a.row < b.row : a.col != b.col ? a.col < b.col : a.order < b.order;
    });
    SheetStore sorted;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        bool superseded = i + 1 < entries.size() && entries[i + 1].row == entries[i].row &&
                          entries[i + 1].col == entries[i].col;
        if (!superseded)
            sorted.add(entries[i].row, entries[i].col, entries[i].text, entries[i].number);
    }
    *this = std::move(sorted);
}

std::string_view SheetStore::cellText(std::size_t cell) const {
    std::size_t end = cell + 1 < offsets_.size() ? offsets_[cell + 1] : text_.size();
    return std::string_view(text_).substr(offsets_[cell], end - offsets_[cell]);
}

std::size_t SheetStore::find(std::uint32_t row, std::uint32_t col) const {
    auto found = std::lower_bound(rows_.begin(), rows_.end(), row,
                                  [](const Row& r, std::uint32_t value) { return r.row < value; });
    if (found == rows_.end() || found->row != row || col < 1 || col > kMaxColumn)
        return std::string_view::npos;
    auto next = found + 1;
    auto first = columns_.begin() + found->firstCell;
    auto last = next == rows_.end() ? columns_.end() : columns_.begin() + next->firstCell;
    auto cell = std::lower_bound(first, last, static_cast<std::uint16_t>(col - 1));
    if (cell == last || *cell != col - 1)
        return std::string_view::npos;
    return static_cast<std::size_t>(cell - columns_.begin());
}

std::string_view SheetStore::text(std::uint32_t row, std::uint32_t col) const {
    const std::size_t cell = find(row, col);
    return cell == std::string_view::npos ? std::string_view() : cellText(cell);
}

bool SheetStore::isNumber(std::uint32_t row, std::uint32_t col) const {
    const std::size_t cell = find(row, col);
    return cell != std::string_view::npos && numbers_[cell];
}

void SheetStore::forEach(const Visitor& visitor) const {
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        std::size_t end = r + 1 < rows_.size() ? rows_[r + 1].firstCell : columns_.size();
        for (std::size_t cell = rows_[r].firstCell; cell < end; ++cell)
            if (!visitor(rows_[r].row, columns_[cell] + 1u, cellText(cell)))
                return;
    }
}

std::vector<std::vector<std::string_view>>
SheetStore::longestTexts(std::uint32_t first, std::uint32_t last, std::size_t count) const {
    if (first < 1 || last < first)
        return {};
    last = std::min(last, std::max<std::uint32_t>(lastColumn_, first));
    using Candidate = std::pair<std::size_t, std::string_view>; // length, text
    auto shorter = [](const Candidate& a, const Candidate& b) { return a.first > b.first; };
    std::vector<std::priority_queue<Candidate, std::vector<Candidate>, decltype(shorter)>> heaps(
        last - first + 1,
        std::priority_queue<Candidate, std::vector<Candidate>, decltype(shorter)>(shorter));
    for (std::size_t cell = 0; cell < columns_.size(); ++cell) {
        std::uint32_t col = columns_[cell] + 1u;
        if (col < first || col > last)
            continue;
        auto& heap = heaps[col - first];
        std::string_view text = cellText(cell);
        // Bytes bound code units from above, so most texts are passed over without counting.
        if (heap.size() == count && text.size() <= heap.top().first)
            continue;
        std::size_t length = Utf16Length(text);
        if (heap.size() < count) {
            heap.emplace(length, text);
        } else if (length > heap.top().first) {
            heap.pop();
            heap.emplace(length, text);
        }
    }
    std::vector<std::vector<std::string_view>> longest(heaps.size());
    for (std::size_t i = 0; i < heaps.size(); ++i)
        for (; !heaps[i].empty(); heaps[i].pop())
            longest[i].push_back(heaps[i].top().second);
    return longest;
}

} // namespace gq
