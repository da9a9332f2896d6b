#include "XlsxTextWriter.h"

#include "Error.h"
#include "NumberFormat.h"

#include <xlsxwriter.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace gq {

namespace {

constexpr std::uint32_t kMaxRows = 1048576;
constexpr std::uint32_t kMaxColumns = 16384;
constexpr std::size_t kMaxCellCharacters = 32767; // what a cell of the format may hold

// The longest prefix of `text` with at most `limit` code points.
std::string_view FirstCodePoints(std::string_view text, std::size_t limit) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == limit)
            return text.substr(0, i);
    }
    return text;
}

struct WorkbookCloser {
    void operator()(lxw_workbook* book) const {
        if (book)
            workbook_close(book);
    }
};

// A name the format accepts for a sheet: at most 31 characters, none of []:*?/\, not starting or
// ending with an apostrophe, unique in the workbook (sheets of a text file or an OpenDocument
// workbook may have any name).
std::string SheetName(const std::string& wanted, std::vector<std::string>& taken) {
    std::string name;
    for (char c : wanted)
        name += std::string_view("[]:*?/\\").find(c) == std::string_view::npos ? c : '_';
    while (!name.empty() && name.front() == '\'')
        name.erase(0, 1);
    while (!name.empty() && name.back() == '\'')
        name.pop_back();
    if (name.empty())
        name = "Sheet";
    auto fits = [](std::string text, std::size_t limit) {
        return std::string(FirstCodePoints(text, limit));
    };
    auto lower = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    auto isTaken = [&](const std::string& candidate) {
        for (const std::string& other : taken)
            if (lower(other) == lower(candidate))
                return true;
        return false;
    };
    std::string candidate = fits(name, 31);
    for (int n = 2; isTaken(candidate); ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        candidate = fits(name, 31 - suffix.size()) + suffix;
    }
    taken.push_back(candidate);
    return candidate;
}

Error WriteError(const std::string& path, const std::string& reason) {
    return Error("The workbook " + path + " cannot be written: " + reason);
}

} // namespace

std::optional<double> NumberShownAs(std::string_view text) {
    if (text.empty() || text.size() > 24)
        return std::nullopt;
    char first = text.front();
    if (!(first == '-' || (first >= '0' && first <= '9')))
        return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    static const NumberFormat general("General");
    if (general.formatNumber(value, false) != text)
        return std::nullopt;
    return value;
}

namespace {

void WriteBook(const std::string& target, const std::string& path,
               const std::vector<XlsxSheetSource>& sheets) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows arrive in order; memory stays bounded by one
    options.use_zip64 = LXW_TRUE;
    std::unique_ptr<lxw_workbook, WorkbookCloser> book(workbook_new_opt(target.c_str(), &options));
    if (!book)
        throw WriteError(path, "the file cannot be created");
    std::vector<std::string> names;
    for (const XlsxSheetSource& source : sheets) {
        const std::string name = SheetName(source.name, names);
        lxw_worksheet* sheet = workbook_add_worksheet(book.get(), name.c_str());
        if (!sheet)
            throw WriteError(path, "\"" + name + "\" cannot be the name of a sheet");
        for (std::size_t c = 0; c < source.columnWidths.size() && c < kMaxColumns; ++c) {
            double width = source.columnWidths[c];
            if (width > 0)
                worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                     std::min(width, 255.0), nullptr);
        }
        lxw_error failure = LXW_NO_ERROR;
        std::string cellText;
        source.forEachText([&](std::uint32_t row, std::uint32_t col, const std::string& text) {
            if (row < 1 || row > kMaxRows || col < 1 || col > kMaxColumns)
                return true;
            lxw_error result;
            if (auto number = NumberShownAs(text)) {
                result = worksheet_write_number(sheet, row - 1, static_cast<lxw_col_t>(col - 1),
                                                *number, nullptr);
            } else {
                cellText.assign(FirstCodePoints(text, kMaxCellCharacters));
                result = worksheet_write_string(sheet, row - 1, static_cast<lxw_col_t>(col - 1),
                                                cellText.c_str(), nullptr);
            }
            if (result != LXW_NO_ERROR) {
                failure = result;
                return false;
            }
            return true;
        });
        if (failure != LXW_NO_ERROR)
            throw WriteError(path, lxw_strerror(failure));
    }
    lxw_error closed = workbook_close(book.release());
    if (closed != LXW_NO_ERROR)
        throw WriteError(path, lxw_strerror(closed));
}

} // namespace

void WriteXlsxTexts(const std::string& path, const std::vector<XlsxSheetSource>& sheets,
                    FileAccess access) {
    if (sheets.empty())
        throw WriteError(path, "a workbook needs at least one sheet");
    const QFileInfo info(QString::fromStdString(path));
    QTemporaryFile part(info.absolutePath() + "/." + info.fileName() + ".XXXXXX");
    part.setAutoRemove(false);
    if (!part.open())
        throw WriteError(path, part.errorString().toStdString());
    part.close();
    const std::string partPath = QFile::encodeName(part.fileName()).toStdString();
    try {
        WriteBook(partPath, path, sheets);
        if (access == FileAccess::Shared) {
            mode_t mask = ::umask(0);
            ::umask(mask);
            if (::chmod(partPath.c_str(), 0666 & ~mask) != 0)
                throw WriteError(path, std::strerror(errno));
        }
        if (std::rename(partPath.c_str(), path.c_str()) != 0)
            throw WriteError(path, std::strerror(errno));
    } catch (...) {
        std::remove(partPath.c_str());
        throw;
    }
}

} // namespace gq
