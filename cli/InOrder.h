#pragma once

#include "Printer.h"
#include "ProgressLine.h"
#include "WorkbookSearch.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace gq::cli {

// Prints what several workers find in the order of the files, exactly as one worker would: the
// file whose turn it is prints as it goes; a later file keeps its rows and error lines until its
// turn, and its worker waits once it holds too much. So memory stays bounded by the files in
// flight, however many rows they find.
class InOrder {
public:
    // `window`: how many files may be under way or waiting past the one whose turn it is.
    InOrder(std::size_t files, std::size_t window, Printer& printer, ProgressLine& progress,
            bool countsNamed);

    // Blocks until file `index` may be started.
    void waitForStart(std::size_t index);
    // Formatted rows of file `index`, `count` of them (none of their bytes in the forms that print
    // per file).
    void rows(std::size_t index, std::string_view bytes, std::size_t count);
    void failure(std::size_t index, const std::string& path, const std::string& reason);
    // After the file's search: its count for -c and -l, and the search's tallies.
    void done(std::size_t index, const std::string& path, std::size_t rows,
              const SearchCounts* counts);

    // Prints an error line that belongs to no file, at once.
    void failureNow(const std::string& path, const std::string& reason);

    std::size_t rows() const { return rows_; }
    bool failed() const { return failed_; }
    std::size_t searchedFiles() const { return searchedFiles_; }
    const SearchCounts& counts() const { return counts_; }

private:
    struct Event {
        enum class Kind { Rows, Failure, Done } kind;
        std::string text;      // Rows: their bytes; Failure, Done: the path
        std::string reason;    // Failure
        std::size_t count = 0; // Done: the file's rows
    };
    struct Pending {
        std::deque<Event> events;
        std::size_t bytes = 0;
        bool finished = false;
    };

    void add(std::size_t index, Event event, std::unique_lock<std::mutex>& lock);
    void print(const Event& event);
    void advance();

    static constexpr std::size_t kMaxHeldBytes = 16 << 20;

    std::mutex mutex_;
    std::condition_variable turn_;
    std::vector<Pending> pending_;
    std::size_t window_;
    std::size_t head_ = 0; // the file whose turn it is
    Printer& printer_;
    ProgressLine& progress_;
    bool countsNamed_;
    std::size_t rows_ = 0;
    bool failed_ = false;
    std::size_t searchedFiles_ = 0;
    SearchCounts counts_;
};

} // namespace gq::cli
