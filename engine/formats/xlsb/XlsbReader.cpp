#include "XlsbReader.h"

#include "CellOrder.h"
#include "CellPipeline.h"
#include "Error.h"
#include "NumberFormat.h"
#include "OpcPackage.h"
#include "XlsbRecords.h"
#include "ZipPackage.h"

#include <algorithm>
#include <unordered_map>

namespace gq {

namespace {

using xlsb::Payload;
using xlsb::RecordReader;
namespace rt = xlsb::rt;

// Offsets inside a cell record: column (4 bytes), then the style index in the low 24 bits of
// the next 4, then the value.
constexpr std::size_t kCellValue = 8;
// The same bound as the other package reader's, so both formats fail alike on a hostile table.
constexpr std::size_t kMaxStringPoolBytes = 1ull << 30;

class XlsbReader : public FormatReader {
public:
    explicit XlsbReader(ZipPackage package) : package_(std::move(package)) {
        std::string workbookPart = OfficeDocumentPart(package_);
        std::string stylesPart;
        std::unordered_map<std::string, Relationship> byId;
        for (auto& relationship : ReadRelationships(package_, workbookPart)) {
            if (relationship.type == "sharedStrings" && sharedStringsPart_.empty())
                sharedStringsPart_ = relationship.target;
            else if (relationship.type == "styles" && stylesPart.empty())
                stylesPart = relationship.target;
            byId.emplace(relationship.id, relationship);
        }
        readWorkbook(workbookPart, byId);
        if (!stylesPart.empty() && package_.has(stylesPart))
            readStyles(stylesPart);
    }

    const std::vector<std::string>& worksheetNames() const override { return names_; }
    const StyleTable& styles() const override { return styles_; }

    void readCells(std::size_t sheetIndex, CellVisitor& visitor) override {
        if (sheetIndex >= sheetParts_.size())
            throw Error("The workbook has no worksheet number " + std::to_string(sheetIndex + 1));
        if (!sharedStringsLoaded_) {
            readSharedStrings();
            sharedStringsLoaded_ = true;
        }
        readSheet(sheetParts_[sheetIndex], visitor);
    }

private:
    void readWorkbook(const std::string& part,
                      const std::unordered_map<std::string, Relationship>& byId) {
        auto input = package_.stream(part);
        RecordReader records(*input, part);
        std::string relationId;
        std::string name;
        while (records.next()) {
            if (records.type() == rt::WbProp) {
                Payload p = records.payload();
                if (p.has(0, 4))
                    styles_.date1904 = (p.u32(0) & 1u) != 0;
            } else if (records.type() == rt::BundleSh) {
                // State (4 bytes), tab id (4), relationship id, name.
                Payload p = records.payload();
                relationId.clear();
                name.clear();
                std::size_t at = p.wideString(8, relationId);
                if (at == 0 || p.wideString(at, name) == 0)
                    continue;
                auto found = byId.find(relationId);
                // Chart, dialog and macro sheets hold no searchable cells.
                if (found == byId.end() || found->second.type != "worksheet")
                    continue;
                names_.push_back(name);
                sheetParts_.push_back(found->second.target);
            }
        }
    }

    void readStyles(const std::string& part) {
        auto input = package_.stream(part);
        RecordReader records(*input, part);
        std::unordered_map<std::uint16_t, std::string> customCodes;
        std::vector<std::uint16_t> cellFormatIds;
        bool inCellXfs = false;
        while (records.next()) {
            switch (records.type()) {
            case rt::Fmt: {
                Payload p = records.payload();
                std::string code;
                if (p.has(0, 2) && p.wideString(2, code) != 0)
                    customCodes[p.u16(0)] = std::move(code);
                break;
            }
            case rt::BeginCellXFs:
                inCellXfs = true;
                break;
            case rt::EndCellXFs:
                inCellXfs = false;
                break;
            case rt::XF:
                if (inCellXfs) {
                    // A short record still takes its place, so later indices stay right.
                    Payload p = records.payload();
                    cellFormatIds.push_back(p.has(2, 2) ? p.u16(2) : 0);
                }
                break;
            default:
                break;
            }
        }
        for (std::uint16_t id : cellFormatIds) {
            auto custom = customCodes.find(id);
            styles_.addStyle(custom != customCodes.end() ? custom->second : BuiltInFormatCode(id));
        }
    }

    void readSharedStrings() {
        stringPool_.clear();
        stringEnds_.clear();
        if (sharedStringsPart_.empty() || !package_.has(sharedStringsPart_))
            return;
        auto input = package_.stream(sharedStringsPart_);
        RecordReader records(*input, sharedStringsPart_);
        while (records.next()) {
            if (records.type() == rt::BeginSst) {
                // The stated count only sizes the table ahead; the items decide.
                Payload p = records.payload();
                if (p.has(4, 4))
                    stringEnds_.reserve(std::min<std::uint32_t>(p.u32(4), 1u << 20));
            } else if (records.type() == rt::SstItem) {
                // Flags (1 byte), then the text; rich runs and phonetic data follow and are not
                // part of what is shown.
                records.payload().wideString(1, stringPool_);
                if (stringPool_.size() > kMaxStringPoolBytes)
                    throw Error("The file's shared-string table is too large to read");
                stringEnds_.push_back(stringPool_.size());
            } else if (records.type() == rt::EndSst) {
                break;
            }
        }
    }

    std::string_view sharedString(std::uint32_t index) const {
        if (index >= stringEnds_.size())
            return {};
        std::size_t begin = index == 0 ? 0 : stringEnds_[index - 1];
        return std::string_view(stringPool_).substr(begin, stringEnds_[index] - begin);
    }

    void readSheet(const std::string& part, CellVisitor& visitor) {
        auto input =
            package_.stream(part, ReadAheadPays(visitor) ? ReadAhead::OwnThread : ReadAhead::None);
        RecordReader records(*input, part);
        Cell cell;
        RowMajorOrder order;
        std::uint32_t row = 0;
        bool rowInGrid = true;
        bool inSheetData = false;
        while (records.next()) {
            std::uint32_t type = records.type();
            if (type > rt::FmlaError && type != rt::CellRString) {
                if (type == rt::BeginSheetData)
                    inSheetData = true;
                else if (type == rt::EndSheetData)
                    return;
                continue;
            }
            Payload p = records.payload();
            if (type == rt::RowHdr) {
                if (p.has(0, 4)) {
                    row = p.u32(0);
                    rowInGrid = row < xlsb::kMaxRows;
                }
                continue;
            }
            if (!rowInGrid || !p.has(0, kCellValue) || p.u32(0) >= xlsb::kMaxColumns)
                continue;
            cell.row = row + 1;
            cell.col = p.u32(0) + 1;
            cell.style = p.u32(4) & 0xFFFFFFu;
            cell.number = 0;
            cell.text = {};
            cell.sharedString = kNotShared;
            if (!decodeValue(type, p, cell) || !order.advances(cell.row, cell.col))
                continue;
            if (!visitor.visit(cell))
                return;
        }
        // A sheet that opened its cell table must close it; anything else is a cut part.
        if (inSheetData)
            records.throwCutOff();
    }

    // Fills the value of a cell record; false when the record is too short to hold one.
    bool decodeValue(std::uint32_t type, const Payload& p, Cell& cell) {
        switch (type) {
        case rt::CellBlank:
            cell.kind = CellKind::Blank;
            return true;
        case rt::CellRk:
            if (!p.has(kCellValue, 4))
                return false;
            cell.kind = CellKind::Number;
            cell.number = DecodeRk(p.u32(kCellValue));
            return true;
        case rt::CellReal:
        case rt::FmlaNum:
            if (!p.has(kCellValue, 8))
                return false;
            cell.kind = CellKind::Number;
            cell.number = p.f64(kCellValue);
            return true;
        case rt::CellBool:
        case rt::FmlaBool:
            if (!p.has(kCellValue, 1))
                return false;
            cell.kind = CellKind::Boolean;
            cell.number = p.u8(kCellValue) != 0 ? 1 : 0;
            return true;
        case rt::CellError:
        case rt::FmlaError:
            if (!p.has(kCellValue, 1))
                return false;
            cell.text = ErrorCodeText(p.u8(kCellValue));
            // A code the format does not define cannot be shown as any error.
            cell.kind = cell.text.empty() ? CellKind::Blank : CellKind::Error;
            return true;
        case rt::CellIsst:
            if (!p.has(kCellValue, 4))
                return false;
            cell.kind = CellKind::String;
            cell.text = sharedString(p.u32(kCellValue));
            if (p.u32(kCellValue) < stringEnds_.size())
                cell.sharedString = p.u32(kCellValue);
            return true;
        case rt::CellSt:
        case rt::FmlaString:
        case rt::CellRString: {
            // A rich string has one flags byte before its text.
            std::size_t at = type == rt::CellRString ? kCellValue + 1 : kCellValue;
            text_.clear();
            if (p.wideString(at, text_) == 0)
                return false;
            cell.kind = CellKind::String;
            cell.text = text_;
            return true;
        }
        default:
            return false;
        }
    }

    ZipPackage package_;
    std::vector<std::string> names_;
    std::vector<std::string> sheetParts_;
    StyleTable styles_;
    std::string sharedStringsPart_;
    bool sharedStringsLoaded_ = false;
    std::string stringPool_;              // every shared string, one after another
    std::vector<std::size_t> stringEnds_; // end offset of each in the pool
    std::string text_;                    // the current inline string, reused from cell to cell
};

} // namespace

std::unique_ptr<FormatReader> OpenXlsbReader(const std::string& path) {
    return OpenXlsbReader(ZipPackage(path));
}

std::unique_ptr<FormatReader> OpenXlsbReader(ZipPackage package) {
    return std::make_unique<XlsbReader>(std::move(package));
}

} // namespace gq
