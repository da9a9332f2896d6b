#include "XlsxReader.h"

#include "CellPipeline.h"
#include "Error.h"
#include "NumberFormat.h"
#include "OpcPackage.h"
#include "SheetCells.h"
#include "SheetScanner.h"
#include "XmlStream.h"
#include "ZipPackage.h"

#include <cstring>
#include <map>
#include <optional>
#include <unordered_map>

namespace gq {

namespace {

bool ParseBool(const char* value) {
    return value && (std::strcmp(value, "1") == 0 || std::strcmp(value, "true") == 0);
}

class StylesHandler : public XmlHandler {
public:
    explicit StylesHandler(StyleTable& styles) : styles_(styles) {}

    void startElement(std::string_view name, const char** attributes) override {
        if (name == "numFmt") {
            const char* id = XmlAttribute(attributes, "numFmtId");
            const char* code = XmlAttribute(attributes, "formatCode");
            int number = 0;
            if (id && code && ParseNumber(std::string_view(id), number))
                custom_[number] = code;
        } else if (name == "cellXfs") {
            inCellXfs_ = true;
        } else if (name == "xf" && inCellXfs_) {
            int id = 0;
            const char* numFmtId = XmlAttribute(attributes, "numFmtId");
            if (numFmtId)
                ParseNumber(std::string_view(numFmtId), id);
            xfFormatIds_.push_back(id);
        }
    }
    void endElement(std::string_view name) override {
        if (name == "cellXfs")
            inCellXfs_ = false;
    }
    void characters(std::string_view) override {}

    void finish() {
        for (int id : xfFormatIds_) {
            auto custom = custom_.find(id);
            styles_.addStyle(custom != custom_.end() ? custom->second : BuiltInFormatCode(id));
        }
    }

private:
    StyleTable& styles_;
    std::map<int, std::string> custom_;
    std::vector<int> xfFormatIds_;
    bool inCellXfs_ = false;
};

struct SheetRef {
    std::string name;
    std::string part;
};

class WorkbookHandler : public XmlHandler {
public:
    WorkbookHandler(const std::vector<Relationship>& relationships, std::vector<SheetRef>& sheets,
                    bool& date1904)
        : sheets_(sheets), date1904_(date1904) {
        for (const auto& relationship : relationships)
            if (relationship.type == "worksheet")
                worksheets_.emplace(relationship.id, relationship.target);
    }

    void startElement(std::string_view name, const char** attributes) override {
        // Only the workbook's own properties: an extension list may carry a workbookPr of
        // another namespace ("x15:workbookPr") that says nothing about the date system.
        if (name == "workbookPr" && depth_ == 1) {
            date1904_ = ParseBool(XmlAttribute(attributes, "date1904"));
        } else if (name == "sheet") {
            const char* sheetName = XmlAttribute(attributes, "name");
            const char* id = XmlAttribute(attributes, "id");
            if (!sheetName || !id)
                return;
            if (auto found = worksheets_.find(id); found != worksheets_.end())
                sheets_.push_back({sheetName, found->second});
        }
        ++depth_;
    }
    void endElement(std::string_view) override { --depth_; }
    void characters(std::string_view) override {}

private:
    std::unordered_map<std::string, std::string> worksheets_; // relationship id -> part
    std::vector<SheetRef>& sheets_;
    bool& date1904_;
    int depth_ = 0;
};

class XlsxReader : public FormatReader {
public:
    XlsxReader(ZipPackage package, SheetParser parser)
        : package_(std::move(package)), parser_(parser) {
        std::string workbookPart = OfficeDocumentPart(package_);
        auto relationships = ReadRelationships(package_, workbookPart);
        WorkbookHandler workbook(relationships, sheets_, styles_.date1904);
        ParseXml(package_.read(workbookPart), workbook);
        for (const auto& sheet : sheets_)
            names_.push_back(sheet.name);
        for (const auto& relationship : relationships) {
            if (relationship.type == "sharedStrings" && package_.has(relationship.target)) {
                readSharedStrings(relationship.target);
            } else if (relationship.type == "styles" && package_.has(relationship.target)) {
                StylesHandler handler(styles_);
                ParseXml(package_.read(relationship.target), handler);
                handler.finish();
            }
        }
    }

    const std::vector<std::string>& worksheetNames() const override { return names_; }
    const StyleTable& styles() const override { return styles_; }

    void readCells(std::size_t sheetIndex, CellVisitor& visitor) override {
        const std::string& part = sheets_.at(sheetIndex).part;
        const ReadAhead readAhead = PipedReadAhead();
        auto input = package_.stream(part, readAhead);
        // The scanner decides from the part's first bytes, before any cell; a part it does not
        // read goes to expat from the start.
        std::optional<SheetScanner> scanner;
        if (parser_ == SheetParser::Scanner) {
            scanner.emplace(*input);
            if (!scanner->readsPart()) {
                scanner.reset();
                input = package_.stream(part, readAhead);
            }
        }
        PipeCells(
            [&](CellVisitor& sink) {
                SheetCells cells(strings_, styles_.date1904, sink);
                if (scanner)
                    scanner->read(cells);
                else
                    ParseSheetXml(*input, cells);
            },
            visitor, package_.isLarge(part), input.get());
    }

private:
    // A table in its plain form is read in one pass as it streams; any other goes to expat,
    // which reads it again from its start.
    void readSharedStrings(const std::string& part) {
        if (const auto size = package_.declaredSize(part))
            strings_.reserveFor(*size);
        if (!ReadPlainSharedStrings(*package_.stream(part), strings_))
            ParseSharedStringsXml(*package_.stream(part), strings_);
    }

    ZipPackage package_;
    SheetParser parser_;
    std::vector<SheetRef> sheets_;
    std::vector<std::string> names_;
    StringPool strings_;
    StyleTable styles_;
};

} // namespace

std::unique_ptr<FormatReader> OpenXlsxReader(const std::string& path, SheetParser parser) {
    return OpenXlsxReader(ZipPackage(path), parser);
}

std::unique_ptr<FormatReader> OpenXlsxReader(ZipPackage package, SheetParser parser) {
    return std::make_unique<XlsxReader>(std::move(package), parser);
}

} // namespace gq
