#include "MatchSpans.h"

#include "Utf8.h"

#include <algorithm>

namespace gq::cli {

MatchFinder::MatchFinder(const std::vector<std::string>& terms, bool ignoreCase) {
    for (const std::string& term : terms) {
        bool whole = term.find('*') != std::string::npos;
        // Each character of the term matches at most one character of the text, and no UTF-8
        // character is longer than four bytes.
        std::size_t characters = 0;
        for (std::size_t i = 0; i < term.size(); ++characters)
            NextCodePoint(term, i);
        terms_.push_back({whole, SearchPattern(term, ignoreCase),
                          SearchPattern(whole ? term : term + "*", ignoreCase), 4 * characters});
    }
}

Spans MatchFinder::find(std::string_view text) const {
    Spans spans;
    for (const Term& term : terms_) {
        if (term.whole) {
            if (!text.empty() && term.within.matches(text))
                spans.emplace_back(0, text.size());
        } else {
            addOccurrences(term, text, spans);
        }
    }
    std::sort(spans.begin(), spans.end());
    Spans merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, span.second);
        else
            merged.push_back(span);
    }
    return merged;
}

void MatchFinder::addOccurrences(const Term& term, std::string_view text, Spans& spans) const {
    for (std::size_t begin = 0; begin < text.size();) {
        std::string_view window = text.substr(begin, term.maxBytes);
        std::size_t end = begin;
        bool found = false;
        if (term.startsWith.matches(window)) {
            // The shortest prefix holding the term is the occurrence; a term that can match no
            // character at all ("[]") has none to show.
            while (end < begin + window.size() && !found) {
                NextCodePoint(text, end);
                found = term.within.matches(text.substr(begin, end - begin));
            }
        }
        if (found) {
            spans.emplace_back(begin, end);
            begin = end;
        } else {
            NextCodePoint(text, begin);
        }
    }
}

} // namespace gq::cli
