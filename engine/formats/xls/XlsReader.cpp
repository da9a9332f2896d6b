#include "XlsReader.h"

// The legacy binary workbook (.xls): BIFF8 (Excel 97 and later) and BIFF5/BIFF7 (Excel 5 and
// 95) record streams, usually inside an OLE2 compound file.
#include "BinaryCellValues.h"
#include "CellOrder.h"
#include "Error.h"
#include "NumberFormat.h"
#include "XlsStream.h"
#include "XlsText.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace gq {

namespace {

using xls::ContinuedRecord;
using xls::Record;
using xls::U16;
using xls::U32;

enum RecordType : std::uint16_t {
    kFormula = 0x0006,
    kEof = 0x000A,
    kDateMode = 0x0022,
    kFilePass = 0x002F,
    kContinue = 0x003C,
    kCodePage = 0x0042,
    kBoundSheet = 0x0085,
    kMulRk = 0x00BD,
    kMulBlank = 0x00BE,
    kRString = 0x00D6,
    kDbCell = 0x00D7,
    kXf = 0x00E0,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kBlank = 0x0201,
    kNumber = 0x0203,
    kLabel = 0x0204,
    kBoolErr = 0x0205,
    kString = 0x0207,
    kRow = 0x0208,
    kArray = 0x0221,
    kTable = 0x0236,
    kRk = 0x027E,
    kFormat = 0x041E,
    kShrFmla = 0x04BC,
    kBof = 0x0809,
    kBofBiff2 = 0x0009,
    kBofBiff3 = 0x0209,
    kBofBiff4 = 0x0409,
};

constexpr std::uint16_t kBofGlobals = 0x0005;
constexpr std::uint16_t kBofWorksheet = 0x0010;
// The widest sheet a spreadsheet has; a cell beyond it cannot be shown.
constexpr std::uint32_t kMaxColumns = 16384;

// A row block holds at most 32 rows of 256 columns; past this many buffered cells the block is
// passed on even when it has not ended, so a stream without block ends costs no more.
constexpr std::size_t kMaxBufferedCells = 32 * 256;
// Text cells of a block may each hold 64K characters: their text is bounded too.
constexpr std::size_t kMaxBufferedText = 16u << 20;

[[noreturn]] void Damaged(const char* detail) {
    throw Error(std::string(kNotAWorkbook) + ": " + detail);
}

[[noreturn]] void OldFormat() {
    throw Error("The file is in an unsupported old format (Excel 4.0 or earlier)");
}

// Codes outside the defined set still show as an error rather than as nothing.
std::string_view ErrorText(unsigned code) {
    std::string_view text = ErrorCodeText(static_cast<std::uint8_t>(code));
    return text.empty() ? std::string_view("#N/A") : text;
}

double DoubleAt(const std::uint8_t* p) {
    double value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// The stream version a BOF record announces: 5 (Excel 5/95) or 8 (Excel 97 and later).
int BiffVersion(const Record& bof) {
    if (bof.type == kBofBiff2 || bof.type == kBofBiff3 || bof.type == kBofBiff4)
        OldFormat();
    if (bof.type != kBof || bof.size < 4)
        Damaged("the workbook stream does not begin with a workbook");
    std::uint16_t version = U16(bof.data);
    if (version == 0x0600)
        return 8;
    if (version == 0x0500)
        return 5;
    // Some writers are loose about the number; the record's own layout (the later version's BOF
    // is twice as long) still tells.
    return bof.size >= 16 ? 8 : 5;
}

class XlsReader : public FormatReader {
public:
    explicit XlsReader(const std::string& path) : file_(path), records_(file_.input()) {
        readGlobals();
    }

    const std::vector<std::string>& worksheetNames() const override { return names_; }
    const StyleTable& styles() const override { return styles_; }
    void readCells(std::size_t sheetIndex, CellVisitor& visitor) override;

private:
    enum class TextSource : std::uint8_t { None, Shared, Own };

    // A cell of the current row block, waiting for the block to be ordered.
    struct Pending {
        std::uint32_t key; // row << 16 | column, both 0-based: sorts row-major
        std::uint32_t style;
        CellKind kind;
        TextSource source;
        double number; // also the error code of an Error cell
        std::uint32_t textBegin;
        std::uint32_t textSize;
    };

    void readGlobals();
    void readSharedStrings(const Record& sst);
    void decodeBytes(std::string& out, const std::uint8_t* bytes, std::size_t count);

    Pending& add(const std::uint8_t* cell, CellKind kind, double number = 0) {
        return add(U16(cell), U16(cell + 2), U16(cell + 4), kind, number);
    }
    Pending& add(std::uint16_t row, std::uint16_t col, std::uint16_t xf, CellKind kind,
                 double number) {
        std::uint32_t key = (static_cast<std::uint32_t>(row) << 16) | col;
        if (!block_.empty() && key < block_.back().key)
            blockSorted_ = false;
        block_.push_back(Pending{key, xf, kind, TextSource::None, number, 0, 0});
        return block_.back();
    }
    // Appends the text that `decode` writes to the block's own text.
    template <typename Decode> void setOwnText(Pending& cell, Decode&& decode) {
        std::size_t begin = arena_.size();
        decode(arena_);
        cell.source = TextSource::Own;
        cell.textBegin = static_cast<std::uint32_t>(begin);
        cell.textSize = static_cast<std::uint32_t>(arena_.size() - begin);
    }
    void readByteString(std::string& out, const Record& record, std::size_t at);
    bool flush(CellVisitor& visitor);

    xls::WorkbookStream file_;
    xls::RecordStream records_;
    int biff_ = 8;
    int codePage_ = 1252;
    std::unique_ptr<xls::CodePage> decoder_;
    std::vector<std::string> names_;
    std::vector<std::uint64_t> sheetOffsets_;
    StyleTable styles_;
    std::string sharedText_;
    std::vector<std::uint32_t> sharedEnds_; // end of each shared string in sharedText_

    std::vector<Pending> block_;
    std::string arena_;
    bool blockSorted_ = true;
    RowMajorOrder order_; // across the blocks of the sheet being read
};

void XlsReader::decodeBytes(std::string& out, const std::uint8_t* bytes, std::size_t count) {
    if (!decoder_)
        decoder_ = std::make_unique<xls::CodePage>(codePage_);
    decoder_->append(out, bytes, count);
}

// A BIFF5 string: a 16-bit byte count and the bytes in the workbook's code page.
void XlsReader::readByteString(std::string& out, const Record& record, std::size_t at) {
    if (record.size < at + 2)
        Damaged("a text record is too short");
    std::size_t count = U16(record.data + at);
    if (record.size < at + 2 + count)
        Damaged("a text runs past the end of its record");
    decodeBytes(out, record.data + at + 2, count);
}

void XlsReader::readGlobals() {
    Record record;
    if (!records_.next(record))
        Damaged("the workbook stream is empty");
    biff_ = BiffVersion(record);
    if (U16(record.data + 2) != kBofGlobals)
        Damaged("the workbook stream does not begin with a workbook");

    std::unordered_map<std::uint16_t, std::string> formats;
    std::vector<std::uint16_t> xfFormats;
    // Byte strings wait for the code page, which need not come first.
    std::vector<std::pair<std::uint16_t, std::string>> rawFormats;
    std::vector<std::string> rawNames;

    bool ended = false;
    while (!ended && records_.next(record)) {
        const std::uint8_t* d = record.data;
        std::uint16_t size = record.size;
        switch (record.type) {
        case kEof:
            ended = true;
            break;
        case kFilePass:
            throw Error(kPasswordProtected);
        case kCodePage:
            if (size >= 2)
                codePage_ = U16(d);
            break;
        case kDateMode:
            if (size >= 2)
                styles_.date1904 = U16(d) == 1;
            break;
        case kXf:
            if (size >= 4)
                xfFormats.push_back(U16(d + 2));
            break;
        case kFormat:
            if (biff_ == 8) {
                ContinuedRecord in(records_, record);
                std::uint16_t id = in.u16();
                std::string code;
                in.unicodeString(code);
                formats[id] = std::move(code);
            } else if (size >= 3 && size >= 3u + d[2]) {
                rawFormats.emplace_back(U16(d),
                                        std::string(reinterpret_cast<const char*>(d + 3), d[2]));
            }
            break;
        case kBoundSheet: {
            if (size < 7)
                Damaged("a sheet entry is too short");
            std::uint64_t offset = U32(d);
            std::uint8_t type = d[5];
            std::string name;
            if (biff_ == 8) {
                ContinuedRecord in(records_, record);
                in.skip(6);
                in.unicodeString(name, true);
            } else {
                if (size < 7u + d[6])
                    Damaged("a sheet name runs past the end of its record");
                name.assign(reinterpret_cast<const char*>(d + 7), d[6]);
            }
            // Type 0 is a worksheet; macro sheets, chart sheets and modules are not.
            if (type == 0) {
                rawNames.push_back(std::move(name));
                sheetOffsets_.push_back(offset);
            }
            break;
        }
        case kSst:
            if (biff_ == 8)
                readSharedStrings(record);
            break;
        default:
            break;
        }
    }
    if (biff_ == 8) {
        names_ = std::move(rawNames);
    } else {
        for (const auto& raw : rawNames) {
            std::string name;
            decodeBytes(name, reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
            names_.push_back(std::move(name));
        }
        for (const auto& [id, raw] : rawFormats) {
            std::string code;
            decodeBytes(code, reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
            formats[id] = std::move(code);
        }
    }
    // A format the file defines wins over the built-in code of the same number: the file says
    // what its writer showed.
    styles_.formatCodes.reserve(xfFormats.size());
    for (std::uint16_t id : xfFormats) {
        auto found = formats.find(id);
        std::string code = found != formats.end() ? found->second : BuiltInFormatCode(id);
        styles_.formatCodes.push_back(code.empty() ? std::string("General") : std::move(code));
    }
}

void XlsReader::readSharedStrings(const Record& sst) {
    ContinuedRecord in(records_, sst);
    in.u32(); // the total count of uses, which nothing needs
    std::uint32_t unique = in.u32();
    // The count is only a claim: the table grows with the strings actually read.
    sharedEnds_.reserve(std::min<std::uint32_t>(unique, 1u << 16));
    for (std::uint32_t i = 0; i < unique; ++i) {
        if (in.atEnd())
            Damaged("the shared string table holds fewer strings than it claims");
        in.unicodeString(sharedText_);
        if (sharedText_.size() > UINT32_MAX)
            Damaged("the shared string table is too large");
        sharedEnds_.push_back(static_cast<std::uint32_t>(sharedText_.size()));
    }
}

bool XlsReader::flush(CellVisitor& visitor) {
    if (!blockSorted_)
        std::stable_sort(block_.begin(), block_.end(),
                         [](const Pending& a, const Pending& b) { return a.key < b.key; });
    bool going = true;
    Cell cell;
    for (const Pending& pending : block_) {
        cell.row = (pending.key >> 16) + 1;
        cell.col = (pending.key & 0xFFFF) + 1;
        if (cell.col > kMaxColumns || !order_.advances(cell.row, cell.col))
            continue;
        cell.kind = pending.kind;
        cell.style = pending.style;
        cell.number = pending.number;
        switch (pending.source) {
        case TextSource::None:
            cell.text = pending.kind == CellKind::Error
                            ? ErrorText(static_cast<unsigned>(pending.number))
                            : std::string_view();
            break;
        case TextSource::Shared:
            cell.text = std::string_view(sharedText_.data() + pending.textBegin, pending.textSize);
            break;
        case TextSource::Own:
            cell.text = std::string_view(arena_.data() + pending.textBegin, pending.textSize);
            break;
        }
        if (!visitor.visit(cell)) {
            going = false;
            break;
        }
    }
    block_.clear();
    arena_.clear();
    blockSorted_ = true;
    return going;
}

void XlsReader::readCells(std::size_t sheetIndex, CellVisitor& visitor) {
    if (sheetIndex >= sheetOffsets_.size())
        throw Error("The workbook has no such worksheet");
    block_.clear();
    arena_.clear();
    blockSorted_ = true;
    order_ = {};

    records_.seek(sheetOffsets_[sheetIndex]);
    Record record;
    if (!records_.next(record) || record.type != kBof || record.size < 4 ||
        U16(record.data + 2) != kBofWorksheet)
        Damaged("a worksheet is not where the workbook says it is");

    int depth = 1;
    bool awaitingString = false; // a formula's text result follows in a STRING record
    std::size_t awaitingIndex = 0;
    while (depth > 0 && records_.next(record)) {
        const std::uint8_t* d = record.data;
        const std::uint16_t size = record.size;
        if (depth > 1) {
            // Inside an embedded chart's substream.
            if (record.type == kBof)
                ++depth;
            else if (record.type == kEof)
                --depth;
            continue;
        }
        if (awaitingString && record.type != kString && record.type != kShrFmla &&
            record.type != kArray && record.type != kTable && record.type != kContinue)
            awaitingString = false;

        switch (record.type) {
        case kBof:
            ++depth;
            break;
        case kEof:
            --depth;
            break;
        case kNumber:
            if (size >= 14)
                add(d, CellKind::Number, DoubleAt(d + 6));
            break;
        case kRk:
            if (size >= 10)
                add(d, CellKind::Number, DecodeRk(U32(d + 6)));
            break;
        case kMulRk: {
            if (size < 6)
                break;
            std::uint16_t row = U16(d);
            std::uint16_t col = U16(d + 2);
            std::size_t count = (size - 6u) / 6u;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t* entry = d + 4 + 6 * i;
                add(row, static_cast<std::uint16_t>(col + i), U16(entry), CellKind::Number,
                    DecodeRk(U32(entry + 2)));
            }
            break;
        }
        case kLabelSst: {
            if (size < 10)
                break;
            std::uint32_t index = U32(d + 6);
            if (index >= sharedEnds_.size())
                Damaged("a cell refers to a shared string that does not exist");
            Pending& cell = add(d, CellKind::String);
            cell.source = TextSource::Shared;
            cell.textBegin = index == 0 ? 0 : sharedEnds_[index - 1];
            cell.textSize = sharedEnds_[index] - cell.textBegin;
            break;
        }
        case kLabel:
        case kRString: {
            if (size < 8)
                break;
            Pending& cell = add(d, CellKind::String);
            setOwnText(cell, [&](std::string& out) {
                if (biff_ == 8) {
                    ContinuedRecord in(records_, record);
                    in.skip(6);
                    in.unicodeString(out);
                } else {
                    readByteString(out, record, 6);
                }
            });
            break;
        }
        case kBoolErr:
            if (size >= 8) {
                if (d[7])
                    add(d, CellKind::Error, d[6]);
                else
                    add(d, CellKind::Boolean, d[6] ? 1 : 0);
            }
            break;
        case kFormula: {
            if (size < 20)
                break;
            const std::uint8_t* result = d + 6;
            if (U16(result + 6) != 0xFFFF) {
                add(d, CellKind::Number, DoubleAt(result));
                break;
            }
            switch (result[0]) {
            case 0: // text, in the STRING record that follows
                add(d, CellKind::String);
                awaitingString = true;
                awaitingIndex = block_.size() - 1;
                break;
            case 1:
                add(d, CellKind::Boolean, result[2] ? 1 : 0);
                break;
            case 2:
                add(d, CellKind::Error, result[2]);
                break;
            case 3: // the empty string
                add(d, CellKind::String);
                break;
            default:
                break;
            }
            break;
        }
        case kString:
            if (awaitingString) {
                Pending& cell = block_[awaitingIndex];
                setOwnText(cell, [&](std::string& out) {
                    if (biff_ == 8) {
                        ContinuedRecord in(records_, record);
                        in.unicodeString(out);
                    } else {
                        readByteString(out, record, 0);
                    }
                });
                awaitingString = false;
            }
            break;
        case kBlank:
            if (size >= 6)
                add(d, CellKind::Blank);
            break;
        case kMulBlank: {
            if (size < 6)
                break;
            std::uint16_t row = U16(d);
            std::uint16_t col = U16(d + 2);
            std::size_t count = (size - 6u) / 2u;
            for (std::size_t i = 0; i < count; ++i)
                add(row, static_cast<std::uint16_t>(col + i), U16(d + 4 + 2 * i), CellKind::Blank,
                    0);
            break;
        }
        case kRow:
        case kDbCell:
            // Row records open a block, DBCELL closes one: the cells so far form a block.
            if (!block_.empty() && !flush(visitor))
                return;
            break;
        default:
            break;
        }
        if ((block_.size() >= kMaxBufferedCells || arena_.size() >= kMaxBufferedText) &&
            !awaitingString && !flush(visitor))
            return;
    }
    flush(visitor);
}

} // namespace

std::unique_ptr<FormatReader> OpenXlsReader(const std::string& path) {
    return std::make_unique<XlsReader>(path);
}

} // namespace gq
