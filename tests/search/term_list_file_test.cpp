#include "Error.h"
#include "TermListFile.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

TEST(TermListFileTest, ReadsUtf8AsItIsAndAnythingElseAsWindows1252) {
    gqtest::TempDir dir;
    const std::string utf8 = dir.path("utf8.txt");
    gqtest::WriteFile(utf8, "\xEF\xBB\xBF"
                            "caf\xC3\xA9\r\n  \n\n\xF0\x9F\x98\x80 x\nlast");
    EXPECT_EQ(gq::ReadTermListFile(utf8),
              (std::vector<std::string>{"caf\xC3\xA9", "\xF0\x9F\x98\x80 x", "last"}));

    // One byte that UTF-8 cannot hold makes the whole file Windows-1252, where 0x81 has no
    // character and stands for itself.
    const std::string cp1252 = dir.path("cp1252.txt");
    gqtest::WriteFile(cp1252, "caf\xE9\n\x80\x81\x9F\n\xC3\xA9");
    EXPECT_EQ(gq::ReadTermListFile(cp1252),
              (std::vector<std::string>{"caf\xC3\xA9", "\xE2\x82\xAC\xC2\x81\xC5\xB8",
                                        "\xC3\x83\xC2\xA9"}));
    // Overlong forms and surrogates are not UTF-8 either.
    EXPECT_EQ(gq::ToUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(gq::ToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");

    EXPECT_THROW(gq::ReadTermListFile(dir.path("missing.txt")), gq::Error);
    EXPECT_THROW(gq::ReadTermListFile(dir.path("")), gq::Error);
}

} // namespace
