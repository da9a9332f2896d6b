#include "Error.h"
#include "OpcPackage.h"
#include "TestFiles.h"
#include "ZipPackage.h"

#include <gtest/gtest.h>

namespace {

TEST(ZipPackage, FindsTheWorkbookThroughTheRootRelationships) {
    gqtest::TempDir dir;
    std::string path = dir.path("book.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) { workbook_add_worksheet(workbook, "A"); });
    gq::ZipPackage package(path);
    EXPECT_EQ(gq::OfficeDocumentPart(package), "xl/workbook.xml");
    auto relationships = gq::ReadRelationships(package, "xl/workbook.xml");
    ASSERT_FALSE(relationships.empty());
    EXPECT_TRUE(package.has("XL/WORKBOOK.XML"));
}

} // namespace
