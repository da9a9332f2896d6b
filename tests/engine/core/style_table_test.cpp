#include "StyleTable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StyleTable, KeepsEachCodeOnceAndShowsUnknownOrOverlongCodesAsGeneral) {
    gq::StyleTable table;
    const std::string longCode = "0\"" + std::string(4000, 'x') + "\"";
    for (int i = 0; i < 100000; ++i)
        table.addStyle(i % 2 ? longCode : "0.00");
    table.addStyle("");
    table.addStyle(std::string(gq::StyleTable::kMaxCodeLength + 1, '0'));
    EXPECT_EQ(table.styleCount(), 100002u);
    EXPECT_EQ(table.codeCount(), 3u); // General, "0.00" and the long one
    EXPECT_EQ(table.code(0), "0.00");
    EXPECT_EQ(table.code(1), longCode);
    EXPECT_EQ(table.codeIndex(1), table.codeIndex(99999));
    EXPECT_EQ(table.code(100000), "General");
    EXPECT_EQ(table.code(100001), "General");
    EXPECT_EQ(table.code(100002), "General"); // no such style
    EXPECT_EQ(table.codeIndex(100002), 0u);
}

} // namespace
