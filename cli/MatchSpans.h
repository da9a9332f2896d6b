#pragma once

#include "Pattern.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gq::cli {

// Byte ranges [begin, end) of a text that a term matches, for highlighting.
using Spans = std::vector<std::pair<std::size_t, std::size_t>>;

// Finds where terms match inside a text. A term without '*' matches a fixed number of
// characters wherever it occurs, so each occurrence is found, left to right without overlap; a
// term with '*' matches the whole text or nothing.
class MatchFinder {
public:
    MatchFinder(const std::vector<std::string>& terms, bool ignoreCase);

    // Every term's matches, merged and in order.
    Spans find(std::string_view text) const;

private:
    struct Term {
        bool whole;
        SearchPattern within;     // the term anywhere in a text
        SearchPattern startsWith; // the term at a text's start
        std::size_t maxBytes;     // the longest text one occurrence can cover
    };
    void addOccurrences(const Term& term, std::string_view text, Spans& spans) const;

    std::vector<Term> terms_;
};

} // namespace gq::cli
