#pragma once

#include <cstddef>
#include <string>

namespace gq {

class Workbook;

// One hit: six text columns, as the results list shows them.
struct ResultRow {
    std::string file;     // the workbook path as listed
    std::string sheet;    // the worksheet's name
    std::string location; // "C7"; empty without locations
    std::string cellText; // the cell's displayed text, or the whole exported line
    std::string row;      // decimal, empty without locations
    std::string col;
};

// What a workbook search reads from and writes to its host (the main window or the command line).
// Every getter is read at the moment of use, so a change made while the search yields takes
// effect at the next cell or line. A term is lent, not copied (it is read for every cell): the
// reference holds until the next call to the host.
class SearchHost {
public:
    virtual ~SearchHost() = default;
    virtual const std::string& searchText() = 0; // the single term
    virtual std::size_t termCount() = 0;         // the term list
    // Throws gq::Error for an index now gone.
    virtual const std::string& term(std::size_t index) = 0;
    // Changes whenever the single term, the term list or the case options may have changed: while
    // it stays the same, a search keeps what it has judged of the texts it met.
    virtual std::uint64_t termsRevision() = 0;
    virtual bool matchCase() = 0;
    virtual bool ignoreCase() = 0;
    virtual bool retrieveLocations() = 0; // the cell scan
    virtual bool skipLocations() = 0;     // the text scan
    virtual bool stopRequested() = 0;
    virtual void setProgressText(const std::string& text) = 0;
    // The row is lent: it is reused for the next one.
    virtual void addResult(const ResultRow& row) = 0;
    // The row added last, unchanged, once more: another term of the list matched the same cell.
    virtual void addResultAgain(const ResultRow& row) { addResult(row); }
    virtual void reportError(const std::string& location, int line,
                             const std::string& description) = 0;
    virtual void yieldToEvents() = 0;
};

// What a search went through, for statistics.
struct SearchCounts {
    std::size_t sheets = 0;
    std::size_t cells = 0; // non-empty cells or exported lines tested
};

// Searches every worksheet for the host's single term. A null workbook yields nothing. Errors are
// reported to the host and the search goes on; nothing is thrown.
SearchCounts ExcelSearchWorkbook(const std::string& path, Workbook* workbook, SearchHost& host);
// The same for every term of the host's term list: one row per matching term.
SearchCounts ExcelSearchWorkbookCombo(const std::string& path, Workbook* workbook,
                                      SearchHost& host);

// Bijective base-26 column letters: 1 "A", 27 "AA", 703 "AAA"; 0 gives "".
std::string ColumnLetters(int column);
// The text after the path's last separator.
std::string FileNameOfPath(const std::string& path);
// Deletes one file, read-only ones too; never reports a failure.
void DeleteTempFile(const std::string& path);
// True when the path's time stamp can be read: a file or a folder.
bool FileExists(const std::string& path);

} // namespace gq
