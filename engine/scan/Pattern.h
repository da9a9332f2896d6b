#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gq {

// The search pattern of a term: '*' any run, '?' one character, '#' one digit, '[list]' and
// '[!list]' one character in or not in the list (ranges 'a-z', '-' literal at either end).
// A term without '*' may occur anywhere in the text ("*term*"); a term with one must match the
// whole text. Comparison is by character code; ignoring case lower-cases text and pattern alike.
class SearchPattern {
public:
    SearchPattern(std::string_view term, bool ignoreCase);

    // False for a malformed pattern (an unclosed '['); it then matches nothing.
    bool valid() const { return valid_; }
    bool matches(std::string_view text) const;
    // The same for a text that the caller has already lower-cased when the pattern ignores case,
    // so that many patterns tested against one text lower-case it once.
    bool matchesPrepared(std::string_view text) const;
    bool ignoresCase() const { return ignoreCase_; }
    // When the pattern ignores case, its verdict on `text` as it stands, not lower-cased, where
    // a byte search can give one (an ASCII literal, found, or not found in ASCII text); nullopt
    // elsewhere. One search through the text, where lower-casing it first takes two.
    std::optional<bool> matchesUnlowered(std::string_view text) const;
    // False only when no text made of these bytes alone can match: some character that every
    // match needs (a literal, a digit for '#', one of a bracket list) cannot be among them.
    bool couldMatchTextOf(const std::bitset<256>& bytes) const;
    // The bytes a prepared text (as matchesPrepared takes it) holds, a bit per byte value modulo
    // 64, for couldMatchTextHolding: made once for a text that many patterns test.
    static std::uint64_t BytesHeld(std::string_view prepared);
    // False only when a prepared text holding these bytes cannot match: it lacks an ASCII
    // character that every match holds. One test where a search would walk the text.
    bool couldMatchTextHolding(std::uint64_t bytesHeld) const {
        return (needed_ & ~bytesHeld) == 0;
    }

private:
    enum class Kind : std::uint8_t { Literal, AnyChar, Digit, Set, NotSet, Star };
    struct Token {
        Kind kind;
        char32_t ch = 0;          // Literal
        std::uint32_t ranges = 0; // Set / NotSet: first index into ranges_
        std::uint32_t count = 0;  // number of ranges
    };
    // Whole-pattern shapes that a byte search answers without decoding the text.
    enum class Shape : std::uint8_t { General, Contains, StartsWith, EndsWith, Equals, Anything };

    void compile(const std::u32string& pattern);
    bool inSet(const Token& token, char32_t c) const;
    bool tokenMatches(const Token& token, char32_t c) const;
    bool matchGeneral(const std::u32string& text) const;
    bool contains(std::string_view text) const;

    bool valid_ = true;
    bool ignoreCase_;
    Shape shape_ = Shape::General;
    std::string literal_; // UTF-8 literal for the byte-search shapes
    std::string folds_;   // per literal byte: what to OR into a text byte before comparing
    bool asciiLiteral_ = false;
    std::uint64_t needed_ = 0; // the ASCII literals' bits, as BytesHeld sets them
    std::vector<Token> tokens_;
    std::vector<std::pair<char32_t, char32_t>> ranges_;
    mutable std::string lowered_;
    mutable std::u32string decoded_;
};

// Unicode simple lower-casing of UTF-8 text (invalid bytes are kept as they are).
void LowerCaseInto(std::string_view text, std::string& out);

} // namespace gq
