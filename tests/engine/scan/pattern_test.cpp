#include "CaseMapping.h"
#include "Pattern.h"
#include "Utf8.h"
#include "WorkbookSearch.h"

#include <gtest/gtest.h>

#include <bitset>
#include <random>

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

std::bitset<256> BytesOf(std::string_view text) {
    std::bitset<256> bytes;
    for (unsigned char c : text)
        bytes.set(c);
    return bytes;
}

// A text ruled out by its bytes must never have matched: random texts from pieces that decode,
// lower-case or fail to decode in every way the matcher meets (the Kelvin sign lower-cases to
// 'k', U+0130 to 'i', E0 81 81 decodes to 'A' as an overlong form, lone and invalid bytes).
TEST(SearchPattern, RulesOutOnlyTextsThatCannotMatch) {
    const std::string_view ascii = "abekiAEKI19 -*?[#";
    const char* const others[] = {"\xc3\xa9", "\xc3\x89",         "\xe2\x84\xaa",
                                  "\xc4\xb0", "\xe0\x81\x81",     "\xc3",
                                  "\xff",     "\xf0\x80\x80\xb1", "\x80"};
    const char* const terms[] = {
        "a",     "A",   "ea",  "k",        "i",        "1",    "#",           "##",
        "?",     "a?b", "*",   "",         "[ab]",     "[!a]", "[0-9]",       "[A-C]",
        "[k-m]", "e*",  "*e",  "\xc3\xa9", "\xc3\x89", "a#",   "[\xc3\xa9x]", "[\xc3\x80-\xc3\xbf]",
        "-",     "[-]", "1-9", "E-",       "*a*b",     "K?",   "A?",          "?1"};
    std::mt19937 random(2);
    int ruledOut = 0;
    int ruledOutByBytesHeld = 0;
    std::string prepared;
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        for (int n = static_cast<int>(random() % 6); n > 0; --n) {
            std::size_t pick = random() % (ascii.size() + std::size(others));
            if (pick < ascii.size())
                text += ascii[pick];
            else
                text += others[pick - ascii.size()];
        }
        for (const char* term : terms) {
            for (bool ignoreCase : {false, true}) {
                gq::SearchPattern pattern(term, ignoreCase);
                bool could = pattern.couldMatchTextOf(BytesOf(text));
                ruledOut += !could;
                if (pattern.matches(text)) {
                    ASSERT_TRUE(could) << "term '" << term << "' ignoreCase " << ignoreCase
                                       << " matches '" << text << "'";
                }
                // The same for the bytes of the text as a term list tests it.
                if (ignoreCase)
                    gq::LowerCaseInto(text, prepared);
                else
                    prepared = text;
                const bool held =
                    pattern.couldMatchTextHolding(gq::SearchPattern::BytesHeld(prepared));
                ruledOutByBytesHeld += !held;
                if (pattern.matchesPrepared(prepared)) {
                    ASSERT_TRUE(held) << "term '" << term << "' ignoreCase " << ignoreCase
                                      << " matches '" << prepared << "' as prepared";
                }
            }
        }
    }
    EXPECT_GT(ruledOut, 10000); // the rules do rule texts out
    EXPECT_GT(ruledOutByBytesHeld, 10000);
}

TEST(SearchPattern, NeedsWhatEveryMatchHolds) {
    const std::bitset<256> amount = BytesOf("-0123456789.,");
    EXPECT_FALSE(gq::SearchPattern("ea", true).couldMatchTextOf(amount));
    EXPECT_FALSE(gq::SearchPattern("1?e", false).couldMatchTextOf(amount));
    EXPECT_FALSE(gq::SearchPattern("[a-z]", true).couldMatchTextOf(amount));
    EXPECT_TRUE(gq::SearchPattern("#,#", false).couldMatchTextOf(amount));
    EXPECT_TRUE(gq::SearchPattern("1*", false).couldMatchTextOf(amount));
    EXPECT_TRUE(gq::SearchPattern("[!0-9]", false).couldMatchTextOf(amount));
    EXPECT_FALSE(gq::SearchPattern("#", false).couldMatchTextOf(BytesOf("yes no")));
    // An upper-case letter of the text is found by its lower-case form when case is ignored.
    const std::bitset<256> pm = BytesOf("0123456789: PM");
    EXPECT_TRUE(gq::SearchPattern("pm", true).couldMatchTextOf(pm));
    EXPECT_FALSE(gq::SearchPattern("pm", false).couldMatchTextOf(pm));
    EXPECT_FALSE(gq::SearchPattern("[ab]m", true).couldMatchTextOf(pm));
    EXPECT_FALSE(gq::SearchPattern("[ab", true).couldMatchTextOf(pm)); // malformed: no match
}

// The word-at-a-time ASCII run must lower exactly as the character-by-character rest does.
TEST(LowerCase, LowersEveryCharacterWhereverItStandsInTheText) {
    const std::string pieces[] = {
        "A",    "Z",    "a",    "z", "@",        "[",        "`",
        "{",    "\x7F", "\x01", "M", "\xC3\x84", "\xCE\xA9", "\xE2\x84\xAA",
        "\xFF", "\xC3"};
    std::mt19937 random(5);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int n = static_cast<int>(random() % 40); n > 0; --n)
            text += pieces[random() % (round % 2 ? std::size(pieces) : 11)];
        std::string expected;
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t start = i;
            const char32_t c = gq::NextCodePoint(text, i);
            if (i - start == 1 && c >= 0x80)
                expected += text[start];
            else
                gq::AppendUtf8(expected, gq::LowerCase(c));
        }
        std::string lowered = "left over";
        gq::LowerCaseInto(text, lowered);
        ASSERT_EQ(lowered, expected) << testing::PrintToString(text);
    }
}

// A term searched for in the text as it stands, folding case byte by byte, must find what it
// finds in the lower-cased text: at every place and length around the sixteen-byte steps, beside
// bytes that differ from a letter by its case bit alone, and where a character from 0x80 up
// lowers to ASCII (the Kelvin sign to 'k', the dotted capital I to 'i').
TEST(SearchPattern, IgnoringCaseFindsInTheTextAsItStandsWhatItFindsLowered) {
    const char* terms[] = {"k", "ea", "Ki", "k@", "`{", "a[z", "abcdefghijklmnopq", "0k"};
    const std::string pieces[] = {"a",
                                  "E",
                                  "e",
                                  "K",
                                  "k",
                                  "i",
                                  "Z",
                                  "@",
                                  "`",
                                  "[",
                                  "{",
                                  "0",
                                  "z",
                                  "abcdefghijklmnopq",
                                  "ABCDEFGHIJKLMNOPQ",
                                  "\xE2\x84\xAA",
                                  "\xC4\xB0",
                                  "\xC3\xA9",
                                  "abcdefghij\xE2\x84\xAAlmnopq"}; // a match past 16 bytes
    const std::size_t asciiPieces = std::size(pieces) - 4;
    std::mt19937 random(11);
    int found = 0;
    for (int round = 0; round < 40000; ++round) {
        std::string text;
        // Every other text is ASCII alone, whose misses are settled without lower-casing.
        const std::size_t kinds = round % 2 ? std::size(pieces) : asciiPieces;
        for (int n = static_cast<int>(random() % 50); n > 0; --n)
            text += pieces[random() % kinds];
        for (const char* term : terms) {
            const gq::SearchPattern pattern(term, true);
            std::string lowered;
            gq::LowerCaseInto(text, lowered);
            const bool expected = pattern.matchesPrepared(lowered);
            found += expected;
            ASSERT_EQ(pattern.matches(text), expected) << term << " in " << text;
        }
    }
    EXPECT_GT(found, 10000); // both verdicts were given often
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
