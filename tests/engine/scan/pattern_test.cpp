#include "Pattern.h"
#include "WorkbookSearch.h"

#include <gtest/gtest.h>

namespace {

struct PatternCase {
    const char* term;
    const char* text;
    bool ignoreCase;
    bool matches;
};

TEST(SearchPattern, FollowsTheWildcardRules) {
    const PatternCase cases[] = {
        {"abc", "xxabcxx", false, true},
        {"abc*", "abcdef", false, true},
        {"abc*", "xabc", false, false},
        {"*abc", "xxabc", false, true},
        {"*abc", "abcx", false, false},
        {"a?c", "xxabcxx", false, true},
        {"a?c", "xxacxx", false, false},
        {"#", "no digits", false, false},
        {"#", "room 7", false, true},
        {"[bc]at", "a cat", false, true},
        {"[!bc]at", "cat", false, false},
        {"[!bc]at", "rat", false, true},
        {"[a-c]9", "b9", false, true},
        {"[a-c]9", "d9", false, false},
        {"[-x]", "a-b", false, true},  // '-' first in a list stands for itself
        {"[x-]", "a-b", false, true},  // and last
        {"[*]", "*", false, true},     // '*' inside a list is literal, yet the term holds a
        {"[*]", "a*b", false, false},  // star, so it must match the whole text
        {"[?]", "what?", false, true}, // so is '?'
        {"[?]", "what", false, false},
        {"[[]", "a[b", false, true},
        {"a[]b", "xaby", false, true}, // "[]" consumes nothing
        {"*", "anything", false, true},
        {"*", "", false, true},
        {"a*b", "ab", false, true},
        {"a*b", "a-b-", false, false},
        {"a*b*c", "aXbYc", false, true},
        {"Total", "TOTAL", false, false},
        {"Total", "TOTAL", true, true},
        {"[A-C]x", "bx", true, true}, // the whole pattern is lower-cased, bracket lists too
        {"ÄRGER", "ärger", true, true},
        {"straße", "STRASSE", true, false}, // simple case mapping only
        {"é?", "xéz", false, true},         // '?' is one character, not one byte
        {"", "anything", false, true},      // the empty term occurs everywhere
        {"   ", "a   b", false, true},
        {"   ", "a  b", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gq::SearchPattern(c.term, c.ignoreCase).matches(c.text), c.matches)
            << "term '" << c.term << "' text '" << c.text << "' ignoreCase " << c.ignoreCase;
}

TEST(SearchPattern, MalformedPatternsMatchNothing) {
    for (const char* term : {"[abc", "x[", "[z-a]"}) {
        gq::SearchPattern pattern(term, false);
        EXPECT_FALSE(pattern.valid()) << term;
        EXPECT_FALSE(pattern.matches("[abc x[ z-a")) << term;
    }
}

TEST(SearchPattern, ManyStarsAgainstALongTextFinishWithoutBacktrackingBlowUp) {
    std::string text(10000, 'a');
    EXPECT_FALSE(gq::SearchPattern("*a*a*a*a*a*b", false).matches(text));
    text.back() = 'b';
    EXPECT_TRUE(gq::SearchPattern("*a*a*a*a*a*b", false).matches(text));
}

TEST(SharedRoutines, ColumnLettersAreBijectiveBase26) {
    const std::pair<int, const char*> cases[] = {{0, ""},     {1, "A"},     {26, "Z"},
                                                 {27, "AA"},  {52, "AZ"},   {53, "BA"},
                                                 {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
    for (const auto& [column, letters] : cases)
        EXPECT_EQ(gq::ColumnLetters(column), letters) << column;
}

TEST(SharedRoutines, FileNameOfPathTakesTheTextAfterTheLastSeparator) {
    EXPECT_EQ(gq::FileNameOfPath("/home/ann/book.xlsx"), "book.xlsx");
    EXPECT_EQ(gq::FileNameOfPath("book.xlsx"), "book.xlsx");
    EXPECT_EQ(gq::FileNameOfPath("/home/ann/"), "");
}

} // namespace
