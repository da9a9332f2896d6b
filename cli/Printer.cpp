#include "Printer.h"

#include "Utf8.h"

#include <array>
#include <cstdio>
#include <tuple>

namespace gq::cli {

namespace {

// grep's colours: file names magenta, line numbers (here the location) green, separators cyan,
// matches bold red.
constexpr const char* kFileColor = "35";
constexpr const char* kLocationColor = "32";
constexpr const char* kSeparatorColor = "36";
constexpr const char* kMatchColor = "01;31";

void StartColor(const char* color, std::string& out) {
    out += "\33[";
    out += color;
    out += "m\33[K";
}

void EndColor(std::string& out) {
    out += "\33[m\33[K";
}

// A column of a line: TAB, CR, LF and backslash escaped. Runs without those characters are copied
// whole.
constexpr std::array<bool, 256> kEscaped = [] {
    std::array<bool, 256> escaped{};
    escaped['\t'] = escaped['\r'] = escaped['\n'] = escaped['\\'] = true;
    return escaped;
}();

void AppendEscaped(std::string_view text, std::string& out) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!kEscaped[static_cast<unsigned char>(c)])
            continue;
        out.append(text, start, i - start);
        out += '\\';
        out += c == '\t' ? 't' : c == '\r' ? 'r' : c == '\n' ? 'n' : '\\';
        start = i + 1;
    }
    out.append(text, start, std::string::npos);
}

bool ValidUtf8(char32_t c, std::size_t length) {
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    return length >= 2 && c >= kLeast[length] && (c < 0xD800 || c > 0xDFFF) && c <= 0x10FFFF;
}

} // namespace

void AppendJsonString(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            std::size_t start = i;
            char32_t c = NextCodePoint(text, i);
            if (ValidUtf8(c, i - start)) {
                out.append(text, start, i - start);
            } else {
                out += "\xEF\xBF\xBD";
                i = start + 1;
            }
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

Printer::Printer(const Options& options, bool color, ProgressLine* sharedTerminal)
    : output_(options.output), color_(color), sharedTerminal_(sharedTerminal) {
    if (color_)
        matches_.emplace(options.multiple ? options.terms : std::vector<std::string>{options.term},
                         !options.matchCase);
}

void Printer::row(const ResultRow& row) {
    if (output_ == Output::Lines)
        appendLine(row);
    else if (output_ == Output::Json)
        appendJson(row);
    else
        return;
    write();
}

void Printer::fileDone(const std::string& path, std::size_t rows, bool withName) {
    if (output_ == Output::FilesWithMatches && rows > 0) {
        appendColored(line_, kFileColor, path);
    } else if (output_ == Output::Count) {
        if (withName) {
            appendColored(line_, kFileColor, path);
            appendColored(line_, kSeparatorColor, ":");
        }
        line_ += std::to_string(rows);
    } else {
        return;
    }
    line_ += '\n';
    write();
}

void Printer::appendLine(const ResultRow& row) {
    // A file's rows come together: its name is escaped once for all of them.
    if (row.file != printedFile_) {
        printedFile_ = row.file;
        shownFile_.clear();
        appendColored(shownFile_, kFileColor, row.file);
    }
    line_ += shownFile_;
    line_ += '\t';
    AppendEscaped(row.sheet, line_);
    line_ += '\t';
    appendColored(line_, kLocationColor, row.location);
    line_ += '\t';
    std::size_t at = 0;
    if (matches_) {
        for (const auto& [begin, end] : matches_->find(row.cellText)) {
            AppendEscaped(std::string_view(row.cellText).substr(at, begin - at), line_);
            appendColored(line_, kMatchColor, row.cellText.substr(begin, end - begin));
            at = end;
        }
    }
    AppendEscaped(std::string_view(row.cellText).substr(at), line_);
    for (const std::string* number : {&row.row, &row.col}) {
        line_ += '\t';
        AppendEscaped(*number, line_);
    }
    line_ += '\n';
}

void Printer::appendJson(const ResultRow& row) {
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
        line_ += separator;
        separator = ',';
        line_ += '"';
        line_ += key;
        line_ += "\":";
        if (kind != Kind::Text && value->empty())
            line_ += "null";
        else if (kind == Kind::OptionalNumber)
            line_ += *value;
        else
            AppendJsonString(*value, line_);
    }
    line_ += "}\n";
}

void Printer::appendColored(std::string& out, const char* color, const std::string& text) const {
    if (!color_ || text.empty()) {
        AppendEscaped(text, out);
        return;
    }
    StartColor(color, out);
    AppendEscaped(text, out);
    EndColor(out);
}

void Printer::write() {
    auto put = [this] { std::fwrite(line_.data(), 1, line_.size(), stdout); };
    if (sharedTerminal_)
        sharedTerminal_->withoutLine(put);
    else
        put();
    line_.clear();
}

} // namespace gq::cli
