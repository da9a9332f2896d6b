#include "DelimitedTextReader.h"

#include "CellText.h"
#include "Error.h"
#include "FieldValue.h"
#include "TextEncoding.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace gq {

namespace {

using text::CompleteUtf8End;
using text::Encoding;

constexpr std::uint32_t kMaxRows = 1048576;
constexpr std::uint32_t kMaxCols = 16384;
// A field is held whole until it is pushed, and no more of it than a cell holds: an
// unterminated quote would otherwise swallow the rest of a large file into memory. A character
// takes at most four bytes; its text is cut to a cell's length once decoded.
constexpr std::size_t kMaxFieldBytes = 4 * kMaxCellChars;
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
        throw Error(kCannotBeRead);
    return file;
}

std::size_t ReadSome(std::FILE* file, char* buffer, std::size_t size) {
    std::size_t got = std::fread(buffer, 1, size, file);
    if (got < size && std::ferror(file))
        throw Error("The file cannot be read: an input/output error occurred");
    return got;
}

// The first line decides: TAB never occurs in ordinary text, so one TAB means the tab-separated
// text that spreadsheets write; semicolons separate lists where the comma is the decimal mark,
// so numbers put commas in such a line too and semicolons win only by majority. A line with
// none of them takes `fallback`.
char ChooseDelimiter(std::string_view head, char fallback) {
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
    if (semicolons == 0 && commas == 0)
        return fallback;
    return semicolons > commas ? ';' : ',';
}

// A first line "sep=X" names the delimiter X; that line is no row.
bool NamedDelimiter(std::string_view head, char& delimiter) {
    if (!head.starts_with("sep=") || head.size() < 5 || head[4] == '\r' || head[4] == '\n' ||
        head[4] == '"')
        return false;
    if (head.size() > 5 && head[5] != '\r' && head[5] != '\n')
        return false;
    delimiter = head[4];
    return true;
}

class DelimitedTextReader : public FormatReader {
public:
    explicit DelimitedTextReader(const std::string& path) : path_(path) {
        names_.push_back(SheetNameOfFile(path));
        for (const std::string& code : text::FieldFormatCodes())
            styles_.addStyle(code);
        File file = OpenFile(path);
        std::string head(kSniffBytes, '\0');
        head.resize(ReadSome(file.get(), head.data(), head.size()));
        text::Sniffed sniffed = text::SniffEncoding(head);
        encoding_ = sniffed.encoding;
        markBytes_ = sniffed.markBytes;
        std::string_view text = std::string_view(head).substr(markBytes_);
        std::string decoded;
        if (text::IsWide(encoding_)) {
            text::WideDecoder(encoding_).decode(text, decoded);
            text = decoded;
        } else {
            // A byte-order mark or a first block that is valid UTF-8 makes the file UTF-8; a
            // stray invalid byte later on is still taken as Windows-1252 by itself, so nothing
            // is lost. Otherwise the whole file is Windows-1252, where every byte is a character.
            cp1252_ = markBytes_ == 0 && !text::LooksUtf8(text, head.size() == kSniffBytes);
        }
        namedDelimiter_ = NamedDelimiter(text, delimiter_);
        // Unicode text as spreadsheets write it is tab-separated.
        if (!namedDelimiter_)
            delimiter_ = ChooseDelimiter(text, text::IsWide(encoding_) ? '\t' : ',');
    }

    const std::vector<std::string>& worksheetNames() const override { return names_; }
    const StyleTable& styles() const override { return styles_; }
    void readCells(std::size_t sheetIndex, CellVisitor& visitor) override;

private:
    enum class State { SkipLine, FieldStart, Plain, Quoted, QuoteInQuoted };

    bool consume(std::string_view chunk, CellVisitor& visitor);
    bool pushField(CellVisitor& visitor);
    std::string_view fieldText();
    void add(char c) {
        if (field_.size() < kMaxFieldBytes)
            field_ += c;
    }
    // The bytes from `i` up to the next of `stops` join the field at once; returns the last one.
    std::size_t addRun(std::string_view chunk, std::size_t i, std::string_view stops) {
        std::size_t end = i;
        while (end < chunk.size() && stops.find(chunk[end]) == std::string_view::npos)
            ++end;
        if (field_.size() < kMaxFieldBytes)
            field_.append(chunk.data() + i, std::min(end - i, kMaxFieldBytes - field_.size()));
        return end - 1;
    }

    std::string path_;
    std::vector<std::string> names_;
    StyleTable styles_;
    Encoding encoding_ = Encoding::Bytes;
    std::size_t markBytes_ = 0;
    bool cp1252_ = false;
    bool namedDelimiter_ = false;
    char delimiter_ = ',';

    // Parse state.
    State state_ = State::FieldStart;
    bool afterCr_ = false; // a LF right after a CR is part of the same line end
    std::string field_;
    std::string decoded_;
    std::uint32_t row_ = 1;
    std::uint32_t col_ = 1;
};

// The field's text as UTF-8, cut at what a cell holds; a NUL is dropped, as no cell holds one.
std::string_view DelimitedTextReader::fieldText() {
    if (field_.size() >= kMaxFieldBytes && !cp1252_)
        field_.resize(CompleteUtf8End(field_)); // cut at the limit: not in half a character
    if (std::memchr(field_.data(), 0, field_.size()))
        field_.erase(std::remove(field_.begin(), field_.end(), '\0'), field_.end());
    unsigned char high = 0;
    for (unsigned char byte : field_)
        high |= byte;
    if (high < 0x80) { // ASCII reads alike in both encodings
        CutToCellLimit(field_);
        return field_;
    }
    decoded_.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(field_.data());
    std::size_t i = 0;
    while (i < field_.size()) {
        std::size_t length = cp1252_ ? 0 : text::Utf8Length(p + i, field_.size() - i);
        if (length > 0) {
            decoded_.append(field_, i, length);
            i += length;
        } else if (p[i] < 0x80) {
            decoded_ += field_[i++];
        } else {
            text::AppendCp1252(decoded_, p[i++]);
        }
    }
    CutToCellLimit(decoded_);
    return decoded_;
}

bool DelimitedTextReader::pushField(CellVisitor& visitor) {
    if (field_.empty() || col_ > kMaxCols)
        return true;
    std::string_view text = fieldText();
    if (text.empty())
        return true;
    text::FieldValue value = text::ValueOfField(text);
    Cell cell;
    cell.row = row_;
    cell.col = col_;
    cell.kind = value.kind;
    cell.style = value.style;
    cell.number = value.number;
    if (value.kind == CellKind::String)
        cell.text = text;
    return visitor.visit(cell);
}

// Parses one block of the text; false once the read is to end.
bool DelimitedTextReader::consume(std::string_view chunk, CellVisitor& visitor) {
    const char delimiter = delimiter_;
    const char plainStops[] = {delimiter, '\r', '\n'};
    const std::string_view plainEnd(plainStops, 3);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        char c = chunk[i];
        if (afterCr_) {
            afterCr_ = false;
            if (c == '\n')
                continue;
        }
        if (state_ == State::SkipLine) {
            if (c == '\n' || c == '\r') {
                afterCr_ = c == '\r';
                state_ = State::FieldStart;
            }
            continue;
        }
        if (state_ == State::Quoted) {
            if (c == '"') {
                state_ = State::QuoteInQuoted;
            } else if (c == '\r') {
                add('\n'); // a cell's line break is LF, whatever the file's line ends
                afterCr_ = true;
            } else {
                i = addRun(chunk, i, "\"\r");
            }
            continue;
        }
        if (state_ == State::QuoteInQuoted) {
            if (c == '"') {
                add('"');
                state_ = State::Quoted;
                continue;
            }
            state_ = State::Plain;
        }
        if (c == delimiter) {
            if (!pushField(visitor))
                return false;
            field_.clear();
            if (col_ <= kMaxCols)
                ++col_;
            state_ = State::FieldStart;
        } else if (c == '\n' || c == '\r') {
            if (!pushField(visitor))
                return false;
            field_.clear();
            afterCr_ = c == '\r';
            state_ = State::FieldStart;
            col_ = 1;
            if (++row_ > kMaxRows)
                return false; // past the last row a sheet has
        } else if (c == '"' && state_ == State::FieldStart) {
            state_ = State::Quoted;
        } else {
            i = addRun(chunk, i, plainEnd);
            state_ = State::Plain;
        }
    }
    return true;
}

void DelimitedTextReader::readCells(std::size_t sheetIndex, CellVisitor& visitor) {
    if (sheetIndex != 0)
        throw Error("The workbook has no worksheet number " + std::to_string(sheetIndex + 1));
    File file = OpenFile(path_);
    state_ = namedDelimiter_ ? State::SkipLine : State::FieldStart;
    afterCr_ = false;
    field_.clear();
    row_ = 1;
    col_ = 1;
    std::optional<text::WideDecoder> wide;
    if (text::IsWide(encoding_))
        wide.emplace(encoding_);
    std::size_t mark = markBytes_;
    std::string buffer(kChunkBytes, '\0');
    std::string decoded;
    for (;;) {
        std::size_t got = ReadSome(file.get(), buffer.data(), buffer.size());
        if (got == 0)
            break;
        std::string_view chunk(buffer.data(), got);
        std::size_t skip = std::min(mark, chunk.size());
        chunk.remove_prefix(skip);
        mark -= skip;
        if (wide) {
            decoded.clear();
            wide->decode(chunk, decoded);
            chunk = decoded;
        }
        if (!consume(chunk, visitor))
            return;
    }
    if (wide) {
        decoded.clear();
        wide->finish(decoded);
        if (!consume(decoded, visitor))
            return;
    }
    // The last line needs no line end; an unterminated quote ends with the file.
    if (state_ != State::SkipLine)
        pushField(visitor);
}

} // namespace

std::unique_ptr<FormatReader> OpenDelimitedTextReader(const std::string& path) {
    return std::make_unique<DelimitedTextReader>(path);
}

} // namespace gq
