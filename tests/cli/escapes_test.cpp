// Both ways of escaping a column give the same bytes and stay in their room, wherever the
// escapes fall in texts of every length around the words' and the vectors' sizes.
#include "Escapes.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Reference(std::string_view text) {
    std::string out;
    for (char c : text)
        out += c == '\t'   ? "\\t"
               : c == '\r' ? "\\r"
               : c == '\n' ? "\\n"
               : c == '\\' ? "\\\\"
                           : std::string(1, c);
    return out;
}

using Escaper = std::function<char*(char*, std::string_view)>;

// Every text is escaped into a room of twice its size with a guard after it.
void ExpectEscapes(const Escaper& escape, const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
        std::string room(2 * text.size() + 16, '\xA5');
        char* end = escape(room.data(), text);
        ASSERT_LE(end, room.data() + 2 * text.size());
        EXPECT_EQ(std::string(room.data(), end), Reference(text)) << testing::PrintToString(text);
        EXPECT_EQ(room.substr(2 * text.size()), std::string(16, '\xA5'));
    }
}

std::vector<std::string> Texts() {
    // Bytes that are escaped, bytes beside them that are not (other control bytes, 0x0E past the
    // words' bound, DEL, UTF-8) and plain letters.
    const std::string alphabet = std::string("\t\r\n\\\x01\x0B\x0C\x0E\x7F\xC3\xA9", 11) + "ab]";
    std::mt19937 random(7);
    std::vector<std::string> texts{""};
    for (std::size_t length = 1; length <= 100; ++length)
        for (int round = 0; round < 40; ++round) {
            std::string text(length, 'x');
            // Few escapes, many, or all of them: the vectors' mask from empty to full.
            const unsigned share = round % 4 == 3 ? 100 : 5 + 30 * (round % 4);
            for (char& c : text)
                if (random() % 100 < share)
                    c = alphabet[random() % alphabet.size()];
            texts.push_back(text);
        }
    texts.push_back(std::string(64, '\t'));
    texts.push_back(std::string(65, '\\'));
    return texts;
}

TEST(Escapes, EveryWayWritesTheSameBytesInItsRoom) {
    const std::vector<std::string> texts = Texts();
    ExpectEscapes(gq::cli::PutEscaped, texts);
    ExpectEscapes(gq::cli::PutEscapedInWords, texts);
#if defined(__x86_64__)
    if (!gq::cli::WideEscapesRun())
        GTEST_SKIP() << "this processor has no 512-bit byte expand";
    ExpectEscapes(gq::cli::PutEscapedWide, texts);
#endif
}

} // namespace
