#include "CaseMapping.h"

#include <gtest/gtest.h>

#include <QChar>
#include <QList>
#include <QString>

#include <random>

namespace {

TEST(CaseMappingTest, LowersAndFoldsEveryCodePointAsQtDoes) {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        ASSERT_EQ(gq::LowerCase(c), QChar::toLower(c)) << std::hex << unsigned(c);
        ASSERT_EQ(gq::FoldCase(c), QChar::toCaseFolded(c)) << std::hex << unsigned(c);
    }
}

TEST(CaseMappingTest, DecodesUtf8AsQtDoesAndTellsWhetherItWasValid) {
    // Bytes drawn so that valid and broken sequences of every length are common.
    const unsigned char pieces[] = {'a',  'Z',  0x7F, 0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                                    0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0xA0, 0x9F};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        for (int n = static_cast<int>(random() % 9); n > 0; --n)
            bytes += static_cast<char>(pieces[random() % std::size(pieces)]);
        std::u32string decoded;
        const bool valid = gq::DecodeUtf8Strictly(bytes, decoded);
        const QString reference = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        const QList<uint> ucs4 = reference.toUcs4();
        ASSERT_EQ(decoded, std::u32string(ucs4.begin(), ucs4.end()))
            << testing::PrintToString(bytes);
        ASSERT_EQ(valid, reference.toUtf8().toStdString() == bytes)
            << testing::PrintToString(bytes);
    }
}

} // namespace
