#include "CellText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using gq::kMaxCellChars;

TEST(CellText, CutsAtTheCellLimitCountingUtf16Units) {
    std::string ascii(kMaxCellChars + 10, 'a');
    gq::CutToCellLimit(ascii);
    EXPECT_EQ(ascii.size(), kMaxCellChars);

    // "é" is one unit in two bytes; "😀" two units in four bytes.
    std::string accented;
    for (std::size_t i = 0; i < kMaxCellChars + 1; ++i)
        accented += "\xC3\xA9";
    gq::CutToCellLimit(accented);
    EXPECT_EQ(accented.size(), 2 * kMaxCellChars);

    std::string astral = "a"; // one unit left over for the last emoji: it does not fit
    for (std::size_t i = 0; i < kMaxCellChars / 2 + 1; ++i)
        astral += "\xF0\x9F\x98\x80";
    gq::CutToCellLimit(astral);
    EXPECT_EQ(astral.size(), 1 + 4 * (kMaxCellChars / 2));

    std::string shortText = "short";
    gq::CutToCellLimit(shortText);
    EXPECT_EQ(shortText, "short");
}

TEST(CellText, BuilderReadsPastTheLimitAndNeverSplitsACharacter) {
    gq::CellTextBuilder builder;
    builder.append(std::string(kMaxCellChars - 1, 'x'));
    EXPECT_FALSE(builder.full());
    // A two-byte character whose bytes arrive apart still fits whole.
    builder.append("\xC3");
    builder.append("\xA9");
    EXPECT_EQ(builder.text().size(), kMaxCellChars + 1);
    builder.append("more");
    EXPECT_TRUE(builder.full());
    EXPECT_EQ(builder.text().size(), kMaxCellChars + 1);
    builder.append(std::string(1 << 20, 'y'));
    EXPECT_EQ(builder.text().size(), kMaxCellChars + 1);

    builder.clear();
    builder.append(std::string(kMaxCellChars - 1, 'x'));
    builder.append("\xF0\x9F\x98\x80"); // two units where one is left
    EXPECT_TRUE(builder.full());
    EXPECT_EQ(builder.text(), std::string(kMaxCellChars - 1, 'x'));

    builder.clear();
    for (int i = 0; i < 100000; ++i)
        builder.append("ab");
    EXPECT_EQ(builder.text().size(), kMaxCellChars);
}

} // namespace
