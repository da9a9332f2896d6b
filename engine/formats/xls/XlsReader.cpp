#include "XlsReader.h"

// The legacy binary workbook (.xls) in every version of its record stream: BIFF8 (Excel 97 and
// later) and BIFF5/BIFF7 (Excel 5 and 95), workbooks usually inside an OLE2 compound file; and
// BIFF2-BIFF4 (Excel 2.x to 4.0), usually a bare stream holding one worksheet, or, in an Excel
// 4.0 workbook, its sheets one after another inside the workbook's own records.
#include "BinaryCellValues.h"
#include "CellOrder.h"
#include "CellText.h"
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
using xls::RecordCutShort;

enum RecordType : std::uint16_t {
    kDimensions2 = 0x0000,
    kBlank2 = 0x0001,
    kInteger2 = 0x0002,
    kNumber2 = 0x0003,
    kLabel2 = 0x0004,
    kBoolErr2 = 0x0005,
    kFormula = 0x0006, // also Excel 2.x's, with its own cell header
    kString2 = 0x0007,
    kRow2 = 0x0008,
    kBofBiff2 = 0x0009,
    kEof = 0x000A,
    kFormat2 = 0x001E, // Excel 2.x and 3.0
    kArray2 = 0x0021,
    kDateMode = 0x0022,
    kFilePass = 0x002F,
    kContinue = 0x003C,
    kCodePage = 0x0042,
    kXf2 = 0x0043,
    kIxfe2 = 0x0044, // the style of an Excel 2.x cell whose attributes say "63"
    kBoundSheet = 0x0085,
    kSheetHeader4 = 0x008F, // Excel 4.0 workbook: a sheet's name and length; its BOF follows
    kMulRk = 0x00BD,
    kMulBlank = 0x00BE,
    kRString = 0x00D6,
    kDbCell = 0x00D7,
    kXf = 0x00E0,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kDimensions = 0x0200,
    kBlank = 0x0201,
    kNumber = 0x0203,
    kLabel = 0x0204,
    kBoolErr = 0x0205,
    kFormula3 = 0x0206,
    kString = 0x0207,
    kRow = 0x0208,
    kBofBiff3 = 0x0209,
    kArray = 0x0221,
    kTable = 0x0236,
    kXf3 = 0x0243,
    kRk = 0x027E,
    kFormula4 = 0x0406,
    kBofBiff4 = 0x0409,
    kFormat = 0x041E,
    kXf4 = 0x0443,
    kShrFmla = 0x04BC,
    kBof = 0x0809,
};

constexpr std::uint16_t kBofGlobals = 0x0005;
constexpr std::uint16_t kBofWorksheet = 0x0010;
constexpr std::uint16_t kBofWorkbook4 = 0x0100;

// The style of a cell whose style index points nowhere: General.
constexpr std::uint32_t kNoStyle = UINT32_MAX;
// The widest sheet a spreadsheet has; a cell beyond it cannot be shown.
constexpr std::uint32_t kMaxColumns = 16384;

// A row block holds at most 32 rows of 256 columns; past this many buffered cells the block is
// passed on even when it has not ended, so a stream without block ends costs no more.
constexpr std::size_t kMaxBufferedCells = 32 * 256;
// Text cells of a block may each hold 32K characters: their text is bounded too.
constexpr std::size_t kMaxBufferedText = 16u << 20;

[[noreturn]] void Damaged(const char* detail) {
    throw Error(std::string(kNotAWorkbook) + ": " + detail);
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

bool IsBof(std::uint16_t type) {
    return type == kBof || type == kBofBiff2 || type == kBofBiff3 || type == kBofBiff4;
}

// The stream version a BOF record announces: 2, 3, 4, 5 (Excel 5/95) or 8 (Excel 97 and later).
int BiffVersion(const Record& bof) {
    if (!IsBof(bof.type) || bof.size < 4)
        Damaged("the workbook stream does not begin with a workbook");
    if (bof.type != kBof)
        return bof.type == kBofBiff2 ? 2 : bof.type == kBofBiff3 ? 3 : 4;
    std::uint16_t version = U16(bof.data);
    if (version == 0x0600)
        return 8;
    if (version == 0x0500)
        return 5;
    // Some writers are loose about the number; the record's own layout (the later version's BOF
    // is twice as long) still tells.
    return bof.size >= 16 ? 8 : 5;
}

enum class CellRecord : std::uint8_t {
    None,
    Blank,
    Integer,
    Number,
    Label,
    BoolErr,
    Formula,
    Rk,
    LabelSst
};

CellRecord CellRecordOf(std::uint16_t type, int biff) {
    if (biff == 2) {
        switch (type) {
        case kBlank2:
            return CellRecord::Blank;
        case kInteger2:
            return CellRecord::Integer;
        case kNumber2:
            return CellRecord::Number;
        case kLabel2:
            return CellRecord::Label;
        case kBoolErr2:
            return CellRecord::BoolErr;
        case kFormula:
            return CellRecord::Formula;
        default:
            return CellRecord::None;
        }
    }
    switch (type) {
    case kBlank:
        return CellRecord::Blank;
    case kNumber:
        return CellRecord::Number;
    case kLabel:
    case kRString: // its formatting runs follow the text
        return CellRecord::Label;
    case kBoolErr:
        return CellRecord::BoolErr;
    case kFormula:
    case kFormula3:
    case kFormula4:
        return CellRecord::Formula;
    case kRk:
        return CellRecord::Rk;
    case kLabelSst:
        return CellRecord::LabelSst;
    default:
        return CellRecord::None;
    }
}

// The bytes a cell record holds after its cell header, up to its variable part.
std::size_t FixedValueBytes(CellRecord kind, int biff) {
    switch (kind) {
    case CellRecord::Integer:
    case CellRecord::BoolErr:
        return 2;
    case CellRecord::Number:
        return 8;
    case CellRecord::Label:
        return biff == 2 ? 1 : 2;
    case CellRecord::Rk:
    case CellRecord::LabelSst:
        return 4;
    case CellRecord::Formula: // the cached result, its flags and the formula's length
        return biff == 2 ? 10 : biff <= 4 ? 12 : 14;
    case CellRecord::Blank:
    case CellRecord::None:
        break;
    }
    return 0;
}

// The records that begin a sheet's cells: in the oldest versions a sheet's styles come before.
bool BeginsCells(std::uint16_t type, int biff) {
    return type == kEof || type == kDimensions2 || type == kDimensions || type == kRow2 ||
           type == kRow || type == kIxfe2 || CellRecordOf(type, biff) != CellRecord::None;
}

// Number formats and cell styles as one scope defines them (a workbook's globals; in the oldest
// versions, each sheet), until they join the style table.
struct StyleRecords {
    std::vector<std::pair<std::uint16_t, std::string>> formats; // number and code
    std::vector<std::uint16_t> xfFormats;                       // format number of each style
};

// Where the styles of one sheet lie in the style table.
struct SheetStyles {
    std::uint32_t xfBase = 0;
    std::uint32_t xfCount = 0;
    // Excel 2.0 wrote no styles: its cells name their number format themselves.
    std::uint32_t formatBase = 0;
    std::uint32_t formatCount = 0;
};

class XlsReader : public FormatReader {
public:
    XlsReader(const std::string& path, FileDescriptor file)
        : file_(path, std::move(file)), records_(file_.input()) {
        readGlobals(path);
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

    struct Sheet {
        std::uint64_t offset; // of its BOF record
        SheetStyles styles;
    };

    void readGlobals(const std::string& path);
    void readLaterGlobals();
    void readWorkbook4();
    SheetStyles readSheetHeader();
    bool readStyleRecord(const Record& record, StyleRecords& out);
    SheetStyles addStyles(const StyleRecords& records);
    void readSharedStrings(const Record& sst);
    void decodeBytes(std::string& out, const std::uint8_t* bytes, std::size_t count);
    std::string decoded(const std::string& bytes);
    bool readText(const Record& record, std::size_t at, bool shortLength);

    std::uint32_t styleOfXf(std::uint32_t xf) const {
        return xf < current_.xfCount ? current_.xfBase + xf : kNoStyle;
    }
    std::uint32_t styleOfAttributes(const std::uint8_t* attributes) const;
    void readCell(CellRecord kind, const Record& record);
    void readFormula(std::uint16_t row, std::uint16_t col, std::uint32_t style,
                     const std::uint8_t* result);

    Pending& add(std::uint16_t row, std::uint16_t col, std::uint32_t style, CellKind kind,
                 double number) {
        std::uint32_t key = (static_cast<std::uint32_t>(row) << 16) | col;
        if (!block_.empty() && key < block_.back().key)
            blockSorted_ = false;
        block_.push_back(Pending{key, style, kind, TextSource::None, number, 0, 0});
        return block_.back();
    }
    // Gives `cell` the text that readText collected.
    void setOwnText(Pending& cell) {
        cell.source = TextSource::Own;
        cell.textBegin = static_cast<std::uint32_t>(arena_.size());
        cell.textSize = static_cast<std::uint32_t>(text_.text().size());
        arena_ += text_.text();
    }
    bool flush(CellVisitor& visitor);

    xls::WorkbookStream file_;
    xls::RecordStream records_;
    int biff_ = 8;
    int codePage_ = 1252;
    int decoderPage_ = 0;
    std::unique_ptr<xls::CodePage> decoder_;
    std::vector<std::string> names_;
    std::vector<Sheet> sheets_;
    StyleTable styles_;
    std::string sharedText_;
    std::vector<std::uint32_t> sharedEnds_; // end of each shared string in sharedText_
    CellTextBuilder text_;                  // the string being read

    SheetStyles current_; // of the sheet being read
    std::uint32_t ixfe_ = 0;
    bool awaitingString_ = false; // a formula's text result follows in a STRING record
    std::size_t awaitingIndex_ = 0;
    std::vector<Pending> block_;
    std::string arena_;
    bool blockSorted_ = true;
    RowMajorOrder order_; // across the blocks of the sheet being read
};

void XlsReader::decodeBytes(std::string& out, const std::uint8_t* bytes, std::size_t count) {
    // The code page may be given (again) by each sheet of the oldest versions.
    if (!decoder_ || decoderPage_ != codePage_) {
        decoder_ = std::make_unique<xls::CodePage>(codePage_);
        decoderPage_ = codePage_;
    }
    decoder_->append(out, bytes, count);
}

std::string XlsReader::decoded(const std::string& bytes) {
    std::string out;
    decodeBytes(out, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return out;
}

// The text of a string at `at` of `record` into text_: a Unicode string in the later version
// (CONTINUE records may carry it on), a byte string with a 16-bit length (8-bit when
// `shortLength`) in the older ones. False when the record ends before the string does.
bool XlsReader::readText(const Record& record, std::size_t at, bool shortLength) {
    text_.clear();
    if (biff_ == 8) {
        try {
            ContinuedRecord in(records_, record);
            in.skip(at);
            in.unicodeString(text_);
        } catch (const RecordCutShort&) {
            return false;
        }
        return true;
    }
    std::size_t lengthBytes = shortLength ? 1 : 2;
    if (record.size < at + lengthBytes)
        return false;
    std::size_t count = shortLength ? record.data[at] : U16(record.data + at);
    if (record.size < at + lengthBytes + count)
        return false;
    std::string bytes;
    decodeBytes(bytes, record.data + at + lengthBytes, count);
    text_.append(bytes);
    return true;
}

// A string whose bytes wait for the code page: an 8-bit length at `at`, then the bytes. Empty
// when the record ends first.
std::string ByteString(const Record& record, std::size_t at) {
    if (record.size < at + 1 || record.size < at + 1u + record.data[at])
        return std::string();
    return std::string(reinterpret_cast<const char*>(record.data + at + 1), record.data[at]);
}

// Records that every scope of styles may hold. True when `record` was one of them.
bool XlsReader::readStyleRecord(const Record& record, StyleRecords& out) {
    const std::uint8_t* d = record.data;
    const std::uint16_t size = record.size;
    // The oldest versions number their formats by their order; a damaged one keeps its place.
    const auto next = static_cast<std::uint16_t>(out.formats.size());
    switch (record.type) {
    case kFilePass:
        throw Error(kPasswordProtected);
    case kCodePage:
        if (size >= 2)
            codePage_ = U16(d);
        return true;
    case kDateMode:
        if (size >= 2)
            styles_.date1904 = U16(d) == 1;
        return true;
    case kFormat2:
        out.formats.emplace_back(next, ByteString(record, 0));
        return true;
    case kFormat:
        if (biff_ == 4) {
            out.formats.emplace_back(next, ByteString(record, 2));
        } else if (biff_ == 8) {
            try {
                ContinuedRecord in(records_, record);
                std::uint16_t id = in.u16();
                text_.clear();
                in.unicodeString(text_);
                out.formats.emplace_back(id, text_.text());
            } catch (const RecordCutShort&) {
                // The format is lost; its number falls back on the built-in code.
            }
        } else if (size >= 3 && size >= 3u + d[2]) {
            out.formats.emplace_back(U16(d), ByteString(record, 2));
        }
        return true;
    // A damaged style keeps its place, so the styles after it keep their numbers.
    case kXf2:
        out.xfFormats.push_back(size >= 3 ? d[2] & 0x3F : 0);
        return true;
    case kXf3:
    case kXf4:
        out.xfFormats.push_back(size >= 2 ? d[1] : 0);
        return true;
    case kXf:
        out.xfFormats.push_back(size >= 4 ? U16(d + 2) : 0);
        return true;
    default:
        return false;
    }
}

SheetStyles XlsReader::addStyles(const StyleRecords& records) {
    std::unordered_map<std::uint16_t, std::string> codes;
    for (const auto& [id, code] : records.formats)
        codes[id] = biff_ == 8 ? code : decoded(code);
    // A format the file defines wins over the built-in code of the same number: the file says
    // what its writer showed. The built-in numbers mean those codes from Excel 5 on; the older
    // versions write every format they use.
    auto codeOf = [&](std::uint16_t id) {
        auto found = codes.find(id);
        std::string code = found != codes.end() ? found->second
                           : biff_ >= 5         ? BuiltInFormatCode(id)
                                                : std::string();
        return code.empty() ? std::string("General") : code;
    };
    SheetStyles placed;
    placed.xfBase = static_cast<std::uint32_t>(styles_.styleCount());
    placed.xfCount = static_cast<std::uint32_t>(records.xfFormats.size());
    for (std::uint16_t id : records.xfFormats)
        styles_.addStyle(codeOf(id));
    if (biff_ == 2 && records.xfFormats.empty()) {
        placed.formatBase = static_cast<std::uint32_t>(styles_.styleCount());
        placed.formatCount = static_cast<std::uint32_t>(records.formats.size());
        for (std::uint16_t id = 0; id < placed.formatCount; ++id)
            styles_.addStyle(codeOf(id));
    }
    return placed;
}

void XlsReader::readGlobals(const std::string& path) {
    Record record;
    if (!records_.next(record))
        Damaged("the workbook stream is empty");
    biff_ = BiffVersion(record);
    std::uint16_t substream = U16(record.data + 2);
    if (biff_ >= 5) {
        if (substream != kBofGlobals)
            Damaged("the workbook stream does not begin with a workbook");
        readLaterGlobals();
    } else if (substream == kBofWorksheet) {
        // One worksheet, with no name of its own: it is named after the file, as on opening.
        sheets_.push_back({record.offset, readSheetHeader()});
        names_.push_back(SheetNameOfFile(path));
    } else if (biff_ == 4 && substream == kBofWorkbook4) {
        readWorkbook4();
    }
    // Anything else is a lone chart or macro sheet: a workbook without worksheets.
}

void XlsReader::readLaterGlobals() {
    StyleRecords styleRecords;
    std::vector<std::string> rawNames;
    std::vector<std::uint64_t> offsets;
    Record record;
    bool ended = false;
    while (!ended && records_.next(record)) {
        if (readStyleRecord(record, styleRecords))
            continue;
        const std::uint8_t* d = record.data;
        switch (record.type) {
        case kEof:
            ended = true;
            break;
        case kBoundSheet: {
            // A damaged sheet entry costs that sheet.
            if (record.size < 7)
                break;
            std::uint64_t offset = U32(d);
            std::uint8_t type = d[5];
            std::string name;
            if (biff_ == 8) {
                try {
                    ContinuedRecord in(records_, record);
                    in.skip(6);
                    text_.clear();
                    in.unicodeString(text_, true);
                    name = text_.text();
                } catch (const RecordCutShort&) {
                    break;
                }
            } else {
                name = ByteString(record, 6);
                if (name.size() != d[6])
                    break;
            }
            // Type 0 is a worksheet; macro sheets, chart sheets and modules are not.
            if (type == 0) {
                rawNames.push_back(std::move(name));
                offsets.push_back(offset);
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
    SheetStyles styles = addStyles(styleRecords);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        sheets_.push_back({offsets[i], styles});
        names_.push_back(biff_ == 8 ? std::move(rawNames[i]) : decoded(rawNames[i]));
    }
}

// An Excel 4.0 workbook: each sheet is a whole sheet stream of its own, with its own styles,
// placed inside the workbook's records after a header that gives its name and length.
void XlsReader::readWorkbook4() {
    Record record;
    while (records_.next(record) && record.type != kEof) {
        if (record.type == kFilePass)
            throw Error(kPasswordProtected);
        if (record.type == kCodePage && record.size >= 2)
            codePage_ = U16(record.data);
        if (record.type != kSheetHeader4 || record.size < 4)
            continue;
        std::uint64_t length = U32(record.data);
        std::string name = ByteString(record, 4);
        std::uint64_t bof = record.offset + 4 + record.size;
        Record sheetBof;
        if (!records_.next(sheetBof) || !IsBof(sheetBof.type) || sheetBof.size < 4)
            Damaged("a sheet of the workbook does not begin where its header says");
        // Chart and macro sheets are skipped whole.
        if (U16(sheetBof.data + 2) == kBofWorksheet) {
            sheets_.push_back({bof, readSheetHeader()});
            names_.push_back(decoded(name));
        }
        if (bof + length >= records_.size())
            break;
        records_.seek(bof + length);
    }
}

// The records of a sheet of the oldest versions up to its cells: its code page, formats and
// styles.
SheetStyles XlsReader::readSheetHeader() {
    StyleRecords styleRecords;
    Record record;
    while (records_.next(record) && !BeginsCells(record.type, biff_))
        readStyleRecord(record, styleRecords);
    return addStyles(styleRecords);
}

void XlsReader::readSharedStrings(const Record& sst) {
    ContinuedRecord in(records_, sst);
    try {
        in.u32(); // the total count of uses, which nothing needs
        // The count of strings is only a claim: the table holds what its records hold. A string
        // cut short ends it there, and cells that point past it are empty.
        std::uint32_t unique = in.u32();
        sharedEnds_.reserve(std::min<std::uint32_t>(unique, 1u << 16));
        while (!in.atEnd()) {
            text_.clear();
            in.unicodeString(text_);
            if (sharedText_.size() + text_.text().size() > UINT32_MAX)
                Damaged("the shared string table is too large");
            sharedText_ += text_.text();
            sharedEnds_.push_back(static_cast<std::uint32_t>(sharedText_.size()));
        }
    } catch (const RecordCutShort&) {
        // The strings read so far stand.
    }
}

std::uint32_t XlsReader::styleOfAttributes(const std::uint8_t* attributes) const {
    std::uint32_t xf = attributes[0] & 0x3F;
    if (xf == 63)
        xf = ixfe_;
    if (current_.xfCount > 0)
        return styleOfXf(xf);
    std::uint32_t format = attributes[1] & 0x3F;
    return format < current_.formatCount ? current_.formatBase + format : kNoStyle;
}

// One cell record: row, column, style (a 16-bit style number, or in Excel 2.x three attribute
// bytes), then the value. A record too short for its value costs that cell.
void XlsReader::readCell(CellRecord kind, const Record& record) {
    const std::size_t header = biff_ == 2 ? 7 : 6;
    if (record.size < header + FixedValueBytes(kind, biff_))
        return;
    const std::uint8_t* d = record.data;
    const std::uint16_t row = U16(d);
    const std::uint16_t col = U16(d + 2);
    const std::uint32_t style = biff_ == 2 ? styleOfAttributes(d + 4) : styleOfXf(U16(d + 4));
    const std::uint8_t* value = d + header;
    switch (kind) {
    case CellRecord::Blank:
        add(row, col, style, CellKind::Blank, 0);
        break;
    case CellRecord::Integer:
        add(row, col, style, CellKind::Number, U16(value));
        break;
    case CellRecord::Number:
        add(row, col, style, CellKind::Number, DoubleAt(value));
        break;
    case CellRecord::Rk:
        add(row, col, style, CellKind::Number, DecodeRk(U32(value)));
        break;
    case CellRecord::BoolErr:
        if (value[1])
            add(row, col, style, CellKind::Error, value[0]);
        else
            add(row, col, style, CellKind::Boolean, value[0] ? 1 : 0);
        break;
    case CellRecord::LabelSst: {
        std::uint32_t index = U32(value);
        if (index >= sharedEnds_.size()) {
            add(row, col, style, CellKind::Blank, 0); // past the strings the table holds
            break;
        }
        // The number of a string cell carries its index in the table.
        Pending& cell = add(row, col, style, CellKind::String, index);
        cell.source = TextSource::Shared;
        cell.textBegin = index == 0 ? 0 : sharedEnds_[index - 1];
        cell.textSize = sharedEnds_[index] - cell.textBegin;
        break;
    }
    case CellRecord::Label:
        // The reading may move on to CONTINUE records: the header is taken first.
        if (readText(record, header, biff_ == 2))
            setOwnText(add(row, col, style, CellKind::String, 0));
        break;
    case CellRecord::Formula:
        readFormula(row, col, style, value);
        break;
    case CellRecord::None:
        break;
    }
}

// A formula shows its cached result; the text of a text result follows in a STRING record.
void XlsReader::readFormula(std::uint16_t row, std::uint16_t col, std::uint32_t style,
                            const std::uint8_t* result) {
    if (U16(result + 6) != 0xFFFF) {
        add(row, col, style, CellKind::Number, DoubleAt(result));
        return;
    }
    switch (result[0]) {
    case 0:
        add(row, col, style, CellKind::String, 0);
        awaitingString_ = true;
        awaitingIndex_ = block_.size() - 1;
        break;
    case 1:
        add(row, col, style, CellKind::Boolean, result[2] ? 1 : 0);
        break;
    case 2:
        add(row, col, style, CellKind::Error, result[2]);
        break;
    case 3: // the empty string
        add(row, col, style, CellKind::String, 0);
        break;
    default:
        break;
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
        cell.sharedString = kNotShared;
        switch (pending.source) {
        case TextSource::None:
            cell.text = pending.kind == CellKind::Error
                            ? ErrorText(static_cast<unsigned>(pending.number))
                            : std::string_view();
            break;
        case TextSource::Shared:
            cell.text = std::string_view(sharedText_.data() + pending.textBegin, pending.textSize);
            cell.sharedString = static_cast<std::uint32_t>(pending.number);
            cell.number = 0;
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
    if (sheetIndex >= sheets_.size())
        throw Error("The workbook has no such worksheet");
    block_.clear();
    arena_.clear();
    blockSorted_ = true;
    awaitingString_ = false;
    ixfe_ = 0;
    current_ = sheets_[sheetIndex].styles;
    order_ = {};

    records_.seek(sheets_[sheetIndex].offset);
    Record record;
    if (!records_.next(record) || !IsBof(record.type) || record.size < 4 ||
        U16(record.data + 2) != kBofWorksheet)
        Damaged("a worksheet is not where the workbook says it is");

    const std::uint16_t stringType = biff_ == 2 ? kString2 : kString;
    int depth = 1;
    while (depth > 0 && records_.next(record)) {
        const std::uint8_t* d = record.data;
        const std::uint16_t size = record.size;
        if (depth > 1) {
            // Inside an embedded chart's substream.
            if (IsBof(record.type))
                ++depth;
            else if (record.type == kEof)
                --depth;
            continue;
        }
        if (awaitingString_ && record.type != stringType && record.type != kShrFmla &&
            record.type != kArray && record.type != kArray2 && record.type != kTable &&
            record.type != kContinue)
            awaitingString_ = false;

        CellRecord kind = CellRecordOf(record.type, biff_);
        if (kind != CellRecord::None) {
            readCell(kind, record);
        } else if (record.type == stringType) {
            if (awaitingString_) {
                // A STRING record cut short leaves the formula's text empty.
                if (readText(record, 0, biff_ == 2))
                    setOwnText(block_[awaitingIndex_]);
                awaitingString_ = false;
            }
        } else if (IsBof(record.type)) {
            ++depth;
        } else if (record.type == kEof) {
            --depth;
        } else if (record.type == kIxfe2 && biff_ == 2) {
            if (size >= 2)
                ixfe_ = U16(d);
        } else if (record.type == kMulRk || record.type == kMulBlank) {
            if (size < 6)
                continue;
            const bool numbers = record.type == kMulRk;
            const std::size_t width = numbers ? 6 : 2;
            std::uint16_t row = U16(d);
            std::uint16_t col = U16(d + 2);
            std::size_t count = (size - 6u) / width;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t* entry = d + 4 + width * i;
                add(row, static_cast<std::uint16_t>(col + i), styleOfXf(U16(entry)),
                    numbers ? CellKind::Number : CellKind::Blank,
                    numbers ? DecodeRk(U32(entry + 2)) : 0);
            }
        } else if (record.type == kRow || record.type == kRow2 || record.type == kDbCell) {
            // Row records open a block, DBCELL closes one: the cells so far form a block.
            if (!block_.empty() && !flush(visitor))
                return;
        }
        if ((block_.size() >= kMaxBufferedCells || arena_.size() >= kMaxBufferedText) &&
            !awaitingString_ && !flush(visitor))
            return;
    }
    flush(visitor);
}

} // namespace

std::unique_ptr<FormatReader> OpenXlsReader(const std::string& path, FileDescriptor file) {
    return std::make_unique<XlsReader>(path, std::move(file));
}

} // namespace gq
