#include "Printer.h"

#include "CaseMapping.h"
#include "Escapes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

namespace gq::cli {

namespace {

// grep's colours: file names magenta, line numbers (here the location) green, separators cyan,
// matches bold red.
constexpr const char* kFileColor = "35";
constexpr const char* kLocationColor = "32";
constexpr const char* kSeparatorColor = "36";
constexpr const char* kMatchColor = "01;31";

constexpr std::string_view kEndColor = "\33[m\33[K";
// The bytes that colouring adds around one text, at most.
constexpr std::size_t kMaxColorBytes = 16 + kEndColor.size();

// Appends to a string without a check per byte: it is given room for the most it can write once,
// and cut to what was written when it ends. A row costs a handful of calls, not one per byte.
class LineWriter {
public:
    LineWriter(std::string& out, std::size_t most) : out_(out), start_(out.size()) {
        out_.resize(start_ + most);
        at_ = out_.data() + start_;
    }
    ~LineWriter() { out_.resize(static_cast<std::size_t>(at_ - out_.data())); }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    void put(char c) { *at_++ = c; }
    void put(std::string_view text) {
        std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
    }
    // At most twice the text's bytes.
    void putEscaped(std::string_view text) { at_ = PutEscaped(at_, text); }
    // At most twice the text's bytes and kMaxColorBytes; no colour when `color` is null.
    void putColored(const char* color, std::string_view text) {
        if (!color || text.empty())
            return putEscaped(text);
        put("\33[");
        put(color);
        put("m\33[K");
        putEscaped(text);
        put(kEndColor);
    }

private:
    std::string& out_;
    std::size_t start_;
    char* at_ = nullptr;
};

// A text with TAB, CR, LF and backslash escaped, in the colour given (none when null).
void AppendColored(std::string& out, const char* color, std::string_view text) {
    LineWriter(out, 2 * text.size() + kMaxColorBytes).putColored(color, text);
}

} // namespace

void AppendJsonString(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            char32_t c;
            const std::size_t size = Utf8SequenceAt(text, i, c);
            if (size > 0)
                out.append(text, i, size);
            else
                out += "\xEF\xBF\xBD";
            i += std::max<std::size_t>(size, 1);
            continue;
        }
        ++i;
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += kHex[byte >> 4];
                out += kHex[byte & 15];
            } else {
                out += static_cast<char>(byte);
            }
        }
    }
    out += '"';
}

RowFormatter::RowFormatter(const Options& options, bool color)
    : output_(options.output), color_(color) {
    if (color_)
        matches_.emplace(options.multiple ? options.terms : std::vector<std::string>{options.term},
                         !options.matchCase);
}

void RowFormatter::append(const ResultRow& row, std::string& out) {
    lastStart_ = out.size();
    if (output_ == Output::Lines)
        appendLine(row, out);
    else if (output_ == Output::Json)
        appendJson(row, out);
    lastEnd_ = out.size();
}

void RowFormatter::appendAgain(const ResultRow& row, std::string& out) {
    if (lastEnd_ != out.size() || lastStart_ >= lastEnd_)
        return append(row, out); // handed over since, or a form that prints per file
    out.append(out, lastStart_, lastEnd_ - lastStart_);
    lastStart_ = lastEnd_;
    lastEnd_ = out.size();
}

void RowFormatter::appendLine(const ResultRow& row, std::string& out) {
    // A file's rows come together, and a sheet's: their names are escaped once for all of them.
    if (row.file != printedFile_ || row.sheet != printedSheet_) {
        printedFile_ = row.file;
        printedSheet_ = row.sheet;
        shownPlace_.clear();
        AppendColored(shownPlace_, color_ ? kFileColor : nullptr, row.file);
        shownPlace_ += '\t';
        AppendColored(shownPlace_, nullptr, row.sheet);
        shownPlace_ += '\t';
    }
    const Spans spans = matches_ ? matches_->find(row.cellText) : Spans();
    LineWriter line(out, shownPlace_.size() + row.location.size() + 2 * row.cellText.size() +
                             row.row.size() + row.col.size() + kMaxColorBytes * (spans.size() + 1) +
                             4);
    line.put(shownPlace_);
    // The search writes a location, row and column of letters and digits alone: nothing in them
    // needs escaping.
    if (color_)
        line.putColored(kLocationColor, row.location);
    else
        line.put(row.location);
    line.put('\t');
    const std::string_view text = row.cellText;
    std::size_t at = 0;
    for (const auto& [begin, end] : spans) {
        line.putEscaped(text.substr(at, begin - at));
        line.putColored(kMatchColor, text.substr(begin, end - begin));
        at = end;
    }
    line.putEscaped(text.substr(at));
    line.put('\t');
    line.put(row.row);
    line.put('\t');
    line.put(row.col);
    line.put('\n');
}

void RowFormatter::appendJson(const ResultRow& row, std::string& out) const {
    // Without locations a row has no location, row or column: null, not an empty text.
    enum class Kind { Text, OptionalText, OptionalNumber };
    const std::tuple<const char*, const std::string*, Kind> fields[] = {
        {"file", &row.file, Kind::Text},
        {"sheet", &row.sheet, Kind::Text},
        {"location", &row.location, Kind::OptionalText},
        {"text", &row.cellText, Kind::Text},
        {"row", &row.row, Kind::OptionalNumber},
        {"col", &row.col, Kind::OptionalNumber},
    };
    char separator = '{';
    for (const auto& [key, value, kind] : fields) {
        out += separator;
        separator = ',';
        out += '"';
        out += key;
        out += "\":";
        if (kind != Kind::Text && value->empty())
            out += "null";
        else if (kind == Kind::OptionalNumber)
            out += *value;
        else
            AppendJsonString(*value, out);
    }
    out += "}\n";
}

Printer::Printer(const Options& options, bool color, ProgressLine* sharedTerminal)
    : output_(options.output), color_(color), sharedTerminal_(sharedTerminal) {}

void Printer::write(std::string_view bytes) {
    auto put = [&] { std::fwrite(bytes.data(), 1, bytes.size(), stdout); };
    if (sharedTerminal_)
        return sharedTerminal_->withoutLine(put);
    if (bytes.size() < kStraightBytes)
        return put();
    // A block of rows goes straight out: copying it into stdio's buffer first would cost as much
    // as half its formatting. What stdio holds goes first.
    std::fflush(stdout);
    while (!bytes.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // as stdio drops what it cannot write
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void Printer::fileDone(const std::string& path, std::size_t rows, bool withName) {
    std::string line;
    const char* fileColor = color_ ? kFileColor : nullptr;
    if (output_ == Output::FilesWithMatches && rows > 0) {
        AppendColored(line, fileColor, path);
    } else if (output_ == Output::Count) {
        if (withName) {
            AppendColored(line, fileColor, path);
            AppendColored(line, color_ ? kSeparatorColor : nullptr, ":");
        }
        line += std::to_string(rows);
    } else {
        return;
    }
    line += '\n';
    write(line);
}

void Printer::flush() {
    std::fflush(stdout);
}

} // namespace gq::cli
