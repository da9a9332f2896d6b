#include "DelimitedTextReader.h"

#include "Error.h"

#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstring>
#include <memory>

namespace gq {

namespace {

constexpr std::uint32_t kMaxRows = 1048576;
constexpr std::uint32_t kMaxCols = 16384;
// A field is held whole until it is pushed; an unterminated quote would otherwise swallow the
// rest of a large file into memory. Past this size the field's further bytes are dropped.
constexpr std::size_t kMaxFieldBytes = 1 << 20;
// The block that decides the delimiter and the encoding.
constexpr std::size_t kSniffBytes = 1 << 20;
constexpr std::size_t kChunkBytes = 1 << 16;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenFile(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw Error("The file cannot be read (permission denied or locked)");
    return file;
}

std::size_t ReadSome(std::FILE* file, char* buffer, std::size_t size) {
    std::size_t got = std::fread(buffer, 1, size, file);
    if (got < size && std::ferror(file))
        throw Error("The file cannot be read: an input/output error occurred");
    return got;
}

// Windows-1252 for 0x80-0x9F; the five unassigned bytes map to the C1 controls of the same
// value, as the system's own conversion does. 0xA0-0xFF are Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendCp1252(std::string& out, unsigned char byte) {
    char16_t unit = byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t(byte);
    if (unit < 0x800) {
        out += static_cast<char>(0xC0 | (unit >> 6));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (unit >> 12));
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at `p` (shortest form, no surrogates, at most
// U+10FFFF), or 0.
std::size_t Utf8Length(const unsigned char* p, std::size_t available) {
    unsigned char lead = p[0];
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

// Where a UTF-8 text cut at `bytes.size()` may end: before a last sequence left incomplete.
std::size_t CompleteUtf8End(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t lead = bytes.size();
    while (lead > 0 && bytes.size() - lead < 3 && (p[lead - 1] & 0xC0) == 0x80)
        --lead;
    if (lead == 0 || p[lead - 1] < 0xC2)
        return bytes.size();
    return Utf8Length(p + lead - 1, bytes.size() - lead + 1) == 0 ? lead - 1 : bytes.size();
}

// True when `bytes` is UTF-8; a sequence cut off at the end of a block that the file goes on
// past (`cut`) does not count against it.
bool LooksUtf8(std::string_view bytes, bool cut) {
    if (cut)
        bytes = bytes.substr(0, CompleteUtf8End(bytes));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = Utf8Length(p + i, bytes.size() - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

// The first line decides: TAB never occurs in ordinary text, so one TAB means the tab-separated
// text that spreadsheets write; semicolons separate lists where the comma is the decimal mark,
// so numbers put commas in such a line too and semicolons win only by majority; else comma.
char ChooseDelimiter(std::string_view head) {
    std::size_t tabs = 0, semicolons = 0, commas = 0;
    bool quoted = false;
    for (char c : head) {
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\n' || c == '\r')
            break;
        else if (c == '\t')
            ++tabs;
        else if (c == ';')
            ++semicolons;
        else if (c == ',')
            ++commas;
    }
    if (tabs > 0)
        return '\t';
    return semicolons > commas ? ';' : ',';
}

std::string SheetNameOf(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    QString name = info.completeBaseName();
    if (name.isEmpty())
        name = info.fileName();
    // A sheet name holds at most 31 characters; longer file names are cut, as on opening.
    if (name.size() > 31)
        name.truncate(name[30].isHighSurrogate() ? 30 : 31);
    return name.toStdString();
}

class DelimitedTextReader : public FormatReader {
public:
    explicit DelimitedTextReader(const std::string& path) : path_(path) {
        names_.push_back(SheetNameOf(path));
        File file = OpenFile(path);
        std::string head(kSniffBytes, '\0');
        head.resize(ReadSome(file.get(), head.data(), head.size()));
        std::string_view text(head);
        if (text.starts_with("\xEF\xBB\xBF")) {
            bom_ = true;
            text.remove_prefix(3);
        }
        // A byte-order mark or a first block that is valid UTF-8 makes the file UTF-8; a stray
        // invalid byte later on is still taken as Windows-1252 by itself, so nothing is lost.
        // Otherwise the whole file is Windows-1252, where every byte is a character.
        cp1252_ = !bom_ && !LooksUtf8(text, head.size() == kSniffBytes);
        delimiter_ = ChooseDelimiter(text);
    }

    const std::vector<std::string>& worksheetNames() const override { return names_; }
    const StyleTable& styles() const override { return styles_; }
    void readCells(std::size_t sheetIndex, CellVisitor& visitor) override;

private:
    bool pushField(CellVisitor& visitor);

    std::string path_;
    std::vector<std::string> names_;
    StyleTable styles_;
    bool bom_ = false;
    bool cp1252_ = false;
    char delimiter_ = ',';

    // Parse state.
    std::string field_;
    std::string decoded_;
    std::uint32_t row_ = 1;
    std::uint32_t col_ = 1;
};

bool DelimitedTextReader::pushField(CellVisitor& visitor) {
    if (field_.empty() || col_ > kMaxCols)
        return true;
    if (field_.size() >= kMaxFieldBytes && !cp1252_)
        field_.resize(CompleteUtf8End(field_)); // cut at the limit: not in half a character
    const auto* p = reinterpret_cast<const unsigned char*>(field_.data());
    unsigned char high = 0;
    for (unsigned char byte : field_)
        high |= byte;
    Cell cell;
    cell.row = row_;
    cell.col = col_;
    cell.kind = CellKind::String;
    if (high < 0x80) {
        cell.text = field_; // ASCII reads alike in both encodings
        return visitor.visit(cell);
    }
    decoded_.clear();
    std::size_t i = 0;
    while (i < field_.size()) {
        std::size_t length = cp1252_ ? 0 : Utf8Length(p + i, field_.size() - i);
        if (length > 0) {
            decoded_.append(field_, i, length);
            i += length;
        } else if (p[i] < 0x80) {
            decoded_ += field_[i++];
        } else {
            AppendCp1252(decoded_, p[i++]);
        }
    }
    cell.text = decoded_;
    return visitor.visit(cell);
}

void DelimitedTextReader::readCells(std::size_t sheetIndex, CellVisitor& visitor) {
    if (sheetIndex != 0)
        throw Error("The workbook has no worksheet number " + std::to_string(sheetIndex + 1));
    File file = OpenFile(path_);
    enum class State { FieldStart, Plain, Quoted, QuoteInQuoted };
    State state = State::FieldStart;
    field_.clear();
    row_ = 1;
    col_ = 1;
    bool afterCr = false; // a LF right after a CR is part of the same line end
    bool first = true;
    const char delimiter = delimiter_;
    auto add = [this](char c) {
        if (field_.size() < kMaxFieldBytes)
            field_ += c;
    };
    // The bytes from `i` up to the next of `stops` join the field at once; returns the last one.
    auto addRun = [this](std::string_view chunk, std::size_t i, std::string_view stops) {
        std::size_t end = i;
        while (end < chunk.size() && stops.find(chunk[end]) == std::string_view::npos)
            ++end;
        if (field_.size() < kMaxFieldBytes)
            field_.append(chunk.data() + i, std::min(end - i, kMaxFieldBytes - field_.size()));
        return end - 1;
    };
    const char plainStops[] = {delimiter, '\r', '\n'};
    const std::string_view plainEnd(plainStops, 3);
    std::string buffer(kChunkBytes, '\0');
    for (;;) {
        std::size_t got = ReadSome(file.get(), buffer.data(), buffer.size());
        if (got == 0)
            break;
        std::string_view chunk(buffer.data(), got);
        if (first) {
            first = false;
            if (bom_ && chunk.starts_with("\xEF\xBB\xBF"))
                chunk.remove_prefix(3);
        }
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            char c = chunk[i];
            if (afterCr) {
                afterCr = false;
                if (c == '\n')
                    continue;
            }
            if (state == State::Quoted) {
                if (c == '"') {
                    state = State::QuoteInQuoted;
                } else if (c == '\r') {
                    add('\n'); // a cell's line break is LF, whatever the file's line ends
                    afterCr = true;
                } else {
                    i = addRun(chunk, i, "\"\r");
                }
                continue;
            }
            if (state == State::QuoteInQuoted) {
                if (c == '"') {
                    add('"');
                    state = State::Quoted;
                    continue;
                }
                state = State::Plain;
            }
            if (c == delimiter) {
                if (!pushField(visitor))
                    return;
                field_.clear();
                if (col_ <= kMaxCols)
                    ++col_;
                state = State::FieldStart;
            } else if (c == '\n' || c == '\r') {
                if (!pushField(visitor))
                    return;
                field_.clear();
                afterCr = c == '\r';
                state = State::FieldStart;
                col_ = 1;
                if (++row_ > kMaxRows)
                    return; // past the last row a sheet has
            } else if (c == '"' && state == State::FieldStart) {
                state = State::Quoted;
            } else {
                i = addRun(chunk, i, plainEnd);
                state = State::Plain;
            }
        }
    }
    // The last line needs no line end; an unterminated quote ends with the file.
    pushField(visitor);
}

} // namespace

std::unique_ptr<FormatReader> OpenDelimitedTextReader(const std::string& path) {
    return std::make_unique<DelimitedTextReader>(path);
}

} // namespace gq
