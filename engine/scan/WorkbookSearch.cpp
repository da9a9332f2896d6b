#include "WorkbookSearch.h"

#include "Error.h"
#include "Pattern.h"
#include "Spreadsheet.h"

#include <QDir>
#include <QTemporaryFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace gq {

namespace {

constexpr const char* kSingleLocation = "in Findwell2021/08/31.Excel1.ExcelSearchWorkbook ";
constexpr const char* kComboLocation = "in Findwell2021/08/31.Excel1.ExcelSearchWorkbookCombo ";

// A compiled pattern kept while its term and case option stay the same.
struct CachedPattern {
    std::string term;
    bool ignoreCase = false;
    std::optional<SearchPattern> pattern;

    const SearchPattern& get(const std::string& wanted, bool wantedIgnoreCase) {
        if (!pattern || term != wanted || ignoreCase != wantedIgnoreCase) {
            term = wanted;
            ignoreCase = wantedIgnoreCase;
            pattern.emplace(wanted, wantedIgnoreCase);
        }
        return *pattern;
    }
};

class WorkbookScan {
public:
    WorkbookScan(const std::string& path, SearchHost& host, bool combo)
        : path_(path), fileName_(FileNameOfPath(path)), host_(host), combo_(combo),
          location_(combo ? kComboLocation : kSingleLocation) {}

    SearchCounts run(Workbook* workbook) {
        host_.setProgressText("Processing file " + fileName_);
        if (!workbook)
            return counts_;
        for (const auto& sheet : workbook->worksheets()) {
            if (host_.stopRequested())
                break;
            try {
                if (host_.retrieveLocations())
                    cellScan(*sheet);
                else if (host_.skipLocations())
                    textScan(*workbook, *sheet);
                else
                    continue;
                ++counts_.sheets;
            } catch (const Error& error) {
                report(error.what());
            }
        }
        return counts_;
    }

private:
    void report(const std::string& description) { host_.reportError(location_, 0, description); }

    // A pattern that cannot be compiled matches nothing; saying so once per search is enough.
    // The lower-cased text is made once per cell, however many terms test it.
    bool test(const SearchPattern& pattern, const std::string& text) {
        if (!pattern.valid()) {
            if (!reportedBadPattern_)
                report("Invalid pattern string");
            reportedBadPattern_ = true;
            return false;
        }
        if (!pattern.ignoresCase())
            return pattern.matchesPrepared(text);
        if (!loweredReady_) {
            LowerCaseInto(text, lowered_);
            loweredReady_ = true;
        }
        return pattern.matchesPrepared(lowered_);
    }

    // How many result rows `text` earns: 0 or 1 for the single term, one per matching entry of
    // the term list. `stopInside` makes the term loop test the stop flag (the text scan's rule).
    // The case option is read once per cell: nothing can change it before the next yield.
    template <typename AddRow>
    void testText(const std::string& text, bool stopInside, AddRow addRow) {
        ++counts_.cells;
        loweredReady_ = false;
        std::optional<bool> ignoreCase = caseOption();
        if (!combo_) {
            if (ignoreCase && test(single_.get(host_.searchText(), *ignoreCase), text))
                addRow();
            return;
        }
        std::size_t count = host_.termCount();
        if (terms_.size() < count)
            terms_.resize(count);
        for (std::size_t k = 0; k < count; ++k) {
            if (stopInside && host_.stopRequested())
                return;
            try {
                std::string term = host_.term(k);
                if (ignoreCase && test(terms_[k].get(term, *ignoreCase), text))
                    addRow();
            } catch (const Error& error) {
                report(error.what());
            }
        }
    }

    // Match case compares as stored, ignore case lower-cases both sides; with neither option
    // set nothing matches.
    std::optional<bool> caseOption() {
        if (host_.matchCase())
            return false;
        if (host_.ignoreCase())
            return true;
        return std::nullopt;
    }

    void progress(std::uint64_t count) {
        host_.setProgressText("Processing: row " + std::to_string(count) + " in " + fileName_);
    }

    void cellScan(Worksheet& sheet) {
        host_.yieldToEvents();
        std::uint32_t row = 0;
        sheet.forEachText([&](std::uint32_t r, std::uint32_t c, const std::string& text) {
            // The rows between two stored rows hold no text; only their progress steps remain.
            for (; row < r; ++row) {
                if (host_.stopRequested())
                    return false;
                if ((row + 1) % 100 == 0)
                    progress(row + 1);
            }
            if (host_.stopRequested())
                return false;
            host_.yieldToEvents();
            testText(text, false, [&] {
                host_.addResult({path_, sheet.name(),
                                 ColumnLetters(static_cast<int>(c)) + std::to_string(r), text,
                                 std::to_string(r), std::to_string(c)});
            });
            return true;
        });
    }

    // The export is read back block by block while it is written, so that reading overlaps the
    // parse and the host keeps its yields even for a huge sheet.
    void textScan(Workbook& workbook, Worksheet& sheet) {
        std::string sheetName = sheet.name();
        if (!export_) {
            export_.emplace(QDir::tempPath() + "/gridquest-export-XXXXXX.txt");
            if (!export_->open())
                throw Error("The temporary text export cannot be created in " +
                            QDir::tempPath().toStdString());
            export_->close();
        }
        std::string exportPath = export_->fileName().toStdString();
        // Emptied first, so that the reader never sees the previous sheet's lines.
        if (!export_->open() || !export_->resize(0))
            throw Error("The temporary text export cannot be written");
        export_->close();
        int fd = ::open(exportPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw Error("The temporary text export cannot be opened");
        std::string line; // a physical line may span blocks
        bool going = true;
        auto readAvailable = [&] {
            char buffer[1 << 16];
            while (going) {
                ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got < 0)
                    throw Error("The temporary text export cannot be read");
                if (got == 0)
                    break;
                going = testLines(buffer, static_cast<std::size_t>(got), line, sheetName);
            }
            return going;
        };
        try {
            workbook.saveAs(exportPath, FileFormat::TextTabDelimited, &sheet, readAvailable);
            if (readAvailable() && !line.empty())
                testLine(line, sheetName);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
    }

    // Tests each physical line (without its LF or CR LF) that `bytes` completes; false once the
    // stop flag is set.
    bool testLines(const char* bytes, std::size_t size, std::string& line,
                   const std::string& sheetName) {
        const char* at = bytes;
        const char* end = bytes + size;
        while (at < end) {
            const char* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
            line.append(at, newline ? newline : end);
            if (!newline)
                break;
            at = newline + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!testLine(line, sheetName))
                return false;
            line.clear();
        }
        return true;
    }

    // False once the stop flag is set.
    bool testLine(const std::string& line, const std::string& sheetName) {
        if (host_.stopRequested())
            return false;
        host_.yieldToEvents();
        testText(line, true, [&] { host_.addResult({path_, sheetName, "", line, "", ""}); });
        if (++lines_ % 100 == 0)
            progress(lines_);
        return true;
    }

    std::string path_;
    std::string fileName_;
    SearchHost& host_;
    bool combo_;
    const char* location_;
    SearchCounts counts_;
    CachedPattern single_;
    std::vector<CachedPattern> terms_;
    bool reportedBadPattern_ = false;
    std::string lowered_;
    bool loweredReady_ = false;
    std::uint32_t lines_ = 0;              // counts on across worksheets
    std::optional<QTemporaryFile> export_; // private (0600), unique, removed when the scan ends
};

} // namespace

SearchCounts ExcelSearchWorkbook(const std::string& path, Workbook* workbook, SearchHost& host) {
    return WorkbookScan(path, host, false).run(workbook);
}

SearchCounts ExcelSearchWorkbookCombo(const std::string& path, Workbook* workbook,
                                      SearchHost& host) {
    return WorkbookScan(path, host, true).run(workbook);
}

std::string ColumnLetters(int column) {
    std::string letters;
    for (int n = column; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    return letters;
}

std::string FileNameOfPath(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void DeleteTempFile(const std::string& path) {
    if (std::remove(path.c_str()) == 0)
        return;
    // A read-only file: make it writable first, as a forced delete does.
    ::chmod(path.c_str(), S_IRUSR | S_IWUSR);
    std::remove(path.c_str());
}

bool FileExists(const std::string& path) {
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

} // namespace gq
