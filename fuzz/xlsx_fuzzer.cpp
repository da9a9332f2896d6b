// The fuzzer's bytes become one part of an otherwise sound workbook package: the first byte picks
// the part (worksheet, shared strings, styles or workbook) and, with its high bit, the
// macro-enabled content type (.xlsm), which the reader must take alike. A worksheet part is also
// read by expat alone: the sheet scanner must give the same cells and the same reason to refuse.
// A shared-string table that the one-pass reader takes must be one that expat reads to the same
// strings.
#include "Error.h"
#include "FuzzSupport.h"
#include "SheetCells.h"
#include "SheetScanner.h"
#include "XlsxReader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kWorkbook[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")"
    R"( xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
    R"(<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>)";

const char kWorksheet[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)"
    R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="1"><v>45351.5</v></c>)"
    R"(<c r="C1" t="inlineStr"><is><t>tea</t></is></c></row>)"
    R"(<row r="2"><c r="A2" t="s"><v>1</v></c><c r="B2" s="2"><v>-1234.5</v></c></row>)"
    R"(</sheetData></worksheet>)";

const char kSharedStrings[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="2" uniqueCount="2">)"
    R"(<si><t>green tea</t></si><si><r><t>rich </t></r><r><t>text_x000D_</t></r></si></sst>)";

const char kStyles[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
    R"(<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy\-mm\-dd\ hh:mm"/></numFmts>)"
    R"(<cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="8"/></cellXfs>)"
    R"(</styleSheet>)";

// Every cell of the workbook, bit for bit, then the error that ended the read.
std::string Cells(const std::string& path, gq::SheetParser parser) {
    class Record : public gq::CellVisitor {
    public:
        explicit Record(std::string& out) : out_(out) {}
        bool visit(const gq::Cell& cell) override {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &cell.number, sizeof bits);
            out_ += std::to_string(cell.row) + "," + std::to_string(cell.col) + " kind " +
                    std::to_string(int(cell.kind)) + " style " + std::to_string(cell.style) +
                    " number " + std::to_string(bits) + " shared " +
                    std::to_string(cell.sharedString) + " text \"" + std::string(cell.text) +
                    "\"\n";
            return true;
        }

    private:
        std::string& out_;
    };
    std::string out;
    try {
        auto reader = gq::OpenXlsxReader(path, parser);
        for (std::size_t sheet = 0; sheet < reader->worksheetNames().size(); ++sheet) {
            Record record(out);
            reader->readCells(sheet, record);
        }
    } catch (const gq::Error& error) {
        out += std::string("error: ") + error.what() + "\n";
    }
    return out;
}

// The strings of a table, or the reason it is refused.
std::string Strings(const gq::StringPool& pool) {
    std::string out;
    for (std::size_t i = 0; i < pool.size(); ++i)
        out += std::string(pool.at(i)) + "\n";
    return out;
}

void ExpectPlainStringsAsExpatReadsThem(std::string_view part) {
    gq::StringPool plain;
    gq::MemoryStream whole(part);
    const bool taken = gq::ReadPlainSharedStrings(whole, plain);
    // Through a buffer so small that items fall across its end, the same.
    gq::StringPool small;
    gq::MemoryStream again(part);
    if (gq::ReadPlainSharedStrings(again, small, 128) != taken ||
        Strings(small) != Strings(plain)) {
        std::fprintf(stderr, "the plain table reader differs with a small buffer\n");
        std::abort();
    }
    if (!taken)
        return;
    std::string expat;
    try {
        gq::StringPool pool;
        gq::MemoryStream input(part);
        gq::ParseSharedStringsXml(input, pool);
        expat = Strings(pool);
    } catch (const gq::Error& error) {
        expat = std::string("error: ") + error.what();
    }
    if (Strings(plain) != expat) {
        std::fprintf(stderr, "the plain table reader and expat differ\n-- plain:\n%s-- expat:\n%s",
                     Strings(plain).c_str(), expat.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    gqfuzz::Selected input = gqfuzz::Select(data, size);
    std::string_view parts[gqfuzz::kOfficeParts] = {kWorksheet, kSharedStrings, kStyles, kWorkbook};
    parts[(input.selector & 0x7F) % gqfuzz::kOfficeParts] = input.bytes;
    const char* contentType =
        input.selector & 0x80
            ? "application/vnd.ms-excel.sheet.macroEnabled.main+xml"
            : "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
    std::string file = gqfuzz::OfficePackage("xml", contentType, parts);
    const std::string& path = gqfuzz::InputFile().write(file);
    gqfuzz::ReadWorkbook([](const std::string& p) { return gq::OpenXlsxReader(p); }, path);
    if ((input.selector & 0x7F) % gqfuzz::kOfficeParts == gqfuzz::SharedStrings)
        ExpectPlainStringsAsExpatReadsThem(input.bytes);
    if ((input.selector & 0x7F) % gqfuzz::kOfficeParts == gqfuzz::Worksheet) {
        std::string scanner = Cells(path, gq::SheetParser::Scanner);
        std::string expat = Cells(path, gq::SheetParser::Expat);
        if (scanner != expat) {
            std::fprintf(stderr, "the sheet scanner and expat differ\n-- scanner:\n%s-- expat:\n%s",
                         scanner.c_str(), expat.c_str());
            std::abort();
        }
    }
    return 0;
}
