#pragma once

#include "ResultTable.h"
#include "WorkbookSearch.h"

#include <QString>

#include <cstddef>
#include <functional>

namespace gq {

class Form1;
class ResultsModel;

inline constexpr const char* kCopiedMessage =
    "Results have been copied to the clipboard.\r\rClick a text area where you normally type "
    "and press Ctrl+V to paste the clipboard.";
inline constexpr const char* kTextFileDialogTitle = "Save";
inline constexpr const char* kTextFileFilter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|";

// The results list as the result actions read it: the rows the view shows, the list's headers.
class ResultsListTable : public ResultTable {
public:
    explicit ResultsListTable(const ResultsModel& model) : model_(model) {}

    std::size_t rowCount() const override;
    int columnCount() const override;
    std::string header(int column) const override;
    std::string_view text(std::size_t row, int column) const override;

private:
    const ResultsModel& model_;
    // Reads go row by row for the most part; one row's texts are kept for the next read.
    mutable std::size_t cachedIndex_ = 0;
    mutable bool cached_ = false;
    mutable ResultRow row_;
};

// The result buttons of the main window.
void OpenSelectedFile(Form1& form);       // PushButton3
void CopyResultsToClipboard(Form1& form); // PushButton8
void SaveResultsAsTextFile(Form1& form);  // PushButton4
void SaveResultsAsExcelFile(Form1& form); // PushButton13

// Told of every sheet window a result button starts (its process id and instance socket), so
// that tests can end the windows they caused.
using HandOverObserver = std::function<void(qint64 processId, const QString& socketName)>;
void ObserveHandOvers(HandOverObserver observer);

} // namespace gq
