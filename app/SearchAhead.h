#pragma once

#include "WorkbookSearch.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gq {

class SpreadsheetApplication;

// What a file's search depends on, as the window's controls hold it when the search starts.
struct SearchInputs {
    std::string text;
    std::vector<std::string> terms;
    bool matchCase = false;
    bool ignoreCase = false;
    bool retrieveLocations = false;
    bool skipLocations = false;
    bool single = false;   // the one search text
    bool multiple = false; // every term of the list

    bool operator==(const SearchInputs&) const = default;
};

// One file opened and searched on a worker thread ahead of its turn, with the inputs as they were
// when it started. At the turn the window takes the opened workbook and, when the inputs are
// still the same, what the search found, as it comes; otherwise it searches the file itself.
// What waits is bounded: past it the look-ahead gives up its search and the window does it.
class SearchAhead {
public:
    SearchAhead(std::string path, SearchInputs inputs);
    ~SearchAhead(); // cancels; a worker still inside a reader ends on its own

    const std::string& path() const { return path_; }
    const SearchInputs& inputs() const { return inputs_; }

    // Waits, running `pass` between looks, until the worker is done with the file, and returns
    // the instance with the workbook open in it, or throws the opening's gq::Error. Without
    // `keepSearch`, or once `stop` says so, the search ahead is dropped first.
    std::unique_ptr<SpreadsheetApplication>
    finish(bool keepSearch, const std::function<void()>& pass, const std::function<bool()>& stop);
    // After finish(): hands what the search found to `host` (its progress texts, rows and error
    // reports, in their order), running `pass` now and then; it ends early once `stop` says so.
    // False, handing nothing, when there is no whole search to hand: the window then searches
    // the file itself.
    bool replay(SearchHost& host, const std::function<void()>& pass,
                const std::function<bool()>& stop);

    // Look-ahead workers still running, some perhaps after their look-ahead was dropped: a
    // program that ends now ends at once rather than wait for them.
    static int running();

    static constexpr std::size_t kMaxHeldBytes = 64 << 20;

    struct State; // what the worker shares with its look-ahead

private:
    std::string path_;
    SearchInputs inputs_;
    std::shared_ptr<State> state_;
};

} // namespace gq
