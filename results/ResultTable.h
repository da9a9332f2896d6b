#pragma once

#include "WorkbookSearch.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace gq {

// What the result actions read of a list with column headers: the window's results list adapts
// to it, tests hand it plain rows. Rows and columns count from 0; column 0 is the row's own text.
class ResultTable {
public:
    virtual ~ResultTable() = default;

    virtual std::size_t rowCount() const = 0;
    virtual int columnCount() const = 0;
    virtual std::string header(int column) const = 0;
    // Valid until the next call. Throws gq::Error when the row is gone (the list changed while
    // an action let the window work).
    virtual std::string_view text(std::size_t row, int column) const = 0;
    // A list without check boxes reports every row as checked. Throws like text().
    virtual bool checked(std::size_t row) const;
};

// The six headers of the results list, in column order.
const std::vector<std::string>& ResultHeaders();

// The texts of a result row by column number (0 = "File" ... 5 = "col").
std::string_view ResultColumn(const ResultRow& row, int column);

// Rows held by the caller.
class ResultRowsTable : public ResultTable {
public:
    explicit ResultRowsTable(const std::vector<ResultRow>& rows) : rows_(rows) {}

    std::size_t rowCount() const override { return rows_.size(); }
    int columnCount() const override { return 6; }
    std::string header(int column) const override;
    std::string_view text(std::size_t row, int column) const override;

private:
    const std::vector<ResultRow>& rows_;
};

// Lets the window process its pending events; called often, so it must be cheap when there is
// nothing to do.
using Yield = std::function<void()>;
// Reports a failure at a numbered step; the action then goes on as it says.
using StepReporter = std::function<void(int line, const std::string& description)>;

// Characters (UTF-16 code units) of a UTF-8 text, as a column's width counts them.
std::size_t TextLength(std::string_view text);

} // namespace gq
