#pragma once

#include "TestFiles.h"

#include <string>
#include <utility>
#include <vector>

// Packages written part by part, as other writers than libxlsxwriter lay them out.
namespace gqtest {

inline const char* const kContentTypes =
    R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";

inline std::string RootRels(
    const std::string& target,
    const std::string& ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships") {
    return R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
           R"(<Relationship Id="rId1" Type=")" +
           ns + R"(/officeDocument" Target=")" + target + R"("/></Relationships>)";
}

// A package written by hand: the workbook part in a folder of its own, one sheet, no styles.
inline void WriteHandMadeXlsx(const std::string& path, const std::string& sheetXml,
                              const std::string& sharedStrings = "",
                              const std::string& workbookPr = "") {
    std::string ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::string rels =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId7" Type=")" +
        ns + R"(/worksheet" Target="sheets/data.xml"/>)" + R"(<Relationship Id="rId8" Type=")" +
        ns + R"(/sharedStrings" Target="/book/strings.xml"/></Relationships>)";
    std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml", kContentTypes},
        {"_rels/.rels", RootRels("book/main.xml")},
        {"book/main.xml",
         R"(<x:workbook xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
         R"(xmlns:r=")" +
             ns + R"(">)" + workbookPr +
             R"(<x:sheets><x:sheet name="Données" sheetId="1" r:id="rId7"/></x:sheets></x:workbook>)"},
        {"book/_rels/main.xml.rels", rels},
        {"book/sheets/data.xml", sheetXml},
    };
    if (!sharedStrings.empty())
        parts.push_back({"book/strings.xml", sharedStrings});
    gqtest::WriteZip(path, parts);
}

inline std::string Sheet(const std::string& rows) {
    return R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)" +
           rows + "</sheetData></worksheet>";
}

} // namespace gqtest
