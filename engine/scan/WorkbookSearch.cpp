#include "WorkbookSearch.h"

#include "Error.h"
#include "Pattern.h"
#include "Spreadsheet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <bitset>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace gq {

namespace {

constexpr const char* kSingleLocation = "in Findwell2021/08/31.Excel1.ExcelSearchWorkbook ";
constexpr const char* kComboLocation = "in Findwell2021/08/31.Excel1.ExcelSearchWorkbookCombo ";

// Two-bit verdicts by index: 0 not judged, 1 no, 2 yes.
class Verdicts {
public:
    int of(std::uint32_t index) const {
        if (std::size_t(index) / 4 >= bits_.size())
            return 0;
        return (bits_[index / 4] >> (index % 4 * 2)) & 3;
    }
    void remember(std::uint32_t index, bool yes) {
        if (index >= kMaxJudged)
            return;
        if (index / 4 >= bits_.size())
            bits_.resize(std::max<std::size_t>(index / 4 + 1, bits_.size() * 2));
        bits_[index / 4] |= static_cast<std::uint8_t>((yes ? 2 : 1) << (index % 4 * 2));
    }
    void clear() { bits_.clear(); }

private:
    // At most this many indexes: a megabyte at most.
    static constexpr std::uint32_t kMaxJudged = 1u << 22;

    std::vector<std::uint8_t> bits_;
};

// A compiled pattern kept while its term and case option stay the same, with its verdicts on the
// workbook's shared strings (a string that many cells show is tested once) and on its number
// formats (a number whose format can never show what the pattern needs is never formatted). The
// term is compared again only when the host's terms revision has moved.
class CachedPattern {
public:
    // `termOf` gives the term; it is asked only when the revision has moved.
    template <typename TermOf>
    const SearchPattern& get(const TermOf& termOf, bool wantedIgnoreCase, std::uint64_t revision) {
        if (pattern_ && revision == revision_)
            return *pattern_;
        const std::string& wanted = termOf();
        revision_ = revision;
        if (!pattern_ || term_ != wanted || ignoreCase_ != wantedIgnoreCase) {
            term_ = wanted;
            ignoreCase_ = wantedIgnoreCase;
            pattern_.emplace(wanted, wantedIgnoreCase);
            sharedStrings.clear();
            numberFormats.clear();
        }
        return *pattern_;
    }

    Verdicts sharedStrings; // whether the string matches
    Verdicts numberFormats; // whether a number of the format could match

private:
    std::string term_;
    bool ignoreCase_ = false;
    std::uint64_t revision_ = 0;
    std::optional<SearchPattern> pattern_;
};

// What a whole term list made of a shared string (the terms it matches) or of a number format
// (the terms that could match its numbers), a bit per term, while the terms stay the same: a cell
// like many before it costs one look-up, not one per term.
class TermMasks {
public:
    static constexpr std::size_t kMaxTerms = 63;

    bool find(std::uint32_t key, std::uint64_t& mask) const {
        if (key >= masks_.size() || !(masks_[key] & kJudged))
            return false;
        mask = masks_[key] & ~kJudged;
        return true;
    }
    void remember(std::uint32_t key, std::uint64_t mask) {
        if (key >= kMaxKeys)
            return;
        if (key >= masks_.size())
            masks_.resize(
                std::min<std::size_t>(std::max<std::size_t>(key + 1, masks_.size() * 2), kMaxKeys));
        masks_[key] = mask | kJudged;
    }
    void clear() { masks_.clear(); }

private:
    static constexpr std::uint64_t kJudged = 1ull << 63;
    static constexpr std::uint32_t kMaxKeys = 1u << 20; // eight megabytes at most

    std::vector<std::uint64_t> masks_;
};

// What is tested: a cell, or a line of the text export.
class Subject {
public:
    explicit Subject(SheetCell& cell)
        : cell_(&cell), shared_(cell.sharedText()), numberFormat_(cell.numberFormat()) {}
    explicit Subject(std::string_view line) : line_(line) {}

    std::uint32_t shared() const { return shared_; }
    std::uint32_t numberFormat() const { return numberFormat_; }
    const std::bitset<256>& numberBytes() const { return cell_->numberBytes(); }
    std::string_view text() { return cell_ ? std::string_view(cell_->text()) : line_; }

private:
    SheetCell* cell_ = nullptr;
    std::string_view line_;
    std::uint32_t shared_ = kNotShared;
    std::uint32_t numberFormat_ = kNoNumberFormat;
};

// The text export starts over at the file's beginning once it holds this much, all of it read:
// its pages are written again while they are cached, where a file emptied and filled anew would
// take new pages for every block.
constexpr std::size_t kExportRestartBytes = 1 << 18;

// Room for the letters of any column an int can name.
constexpr std::size_t kMaxColumnLetters = 8;

// Writes a column's letters so that they end at `end`; returns where they begin.
char* ColumnLettersEndingAt(char* end, long long column) {
    for (long long n = column; n > 0; n = (n - 1) / 26)
        *--end = static_cast<char>('A' + (n - 1) % 26);
    return end;
}

// The text export of a sheet: a private (0600) file with a name of its own in the temporary
// folder ($TMPDIR, else /tmp), removed when the scan ends.
class ExportFile {
public:
    ExportFile() {
        const char* tmpdir = std::getenv("TMPDIR");
        std::string folder = tmpdir && *tmpdir ? tmpdir : "/tmp";
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        path_ = folder + "/gridquest-export-XXXXXX.txt";
        fd_ = ::mkostemps(path_.data(), 4, O_CLOEXEC);
        if (fd_ < 0)
            throw Error("The temporary text export cannot be created in " + folder);
    }
    ~ExportFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    const std::string& path() const { return path_; }
    // Open for reading for as long as the search: a workbook of many sheets is not a pair of
    // opens for each.
    int fd() const { return fd_; }

private:
    std::string path_;
    int fd_;
};

class WorkbookScan {
public:
    WorkbookScan(const std::string& path, SearchHost& host, bool combo)
        : fileName_(FileNameOfPath(path)), host_(host), combo_(combo),
          location_(combo ? kComboLocation : kSingleLocation) {
        row_.file = path;
    }

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
    // The lower-cased text is made once per subject, however many terms test it.
    template <typename TermOf>
    bool test(CachedPattern& cached, const TermOf& termOf, bool ignoreCase, Subject& subject) {
        const SearchPattern& pattern = cached.get(termOf, ignoreCase, revision_);
        if (!pattern.valid()) {
            if (!reportedBadPattern_)
                report("Invalid pattern string");
            reportedBadPattern_ = true;
            return false;
        }
        const std::uint32_t shared = subject.shared();
        if (shared != kNotShared) {
            if (int verdict = cached.sharedStrings.of(shared))
                return verdict == 2;
        }
        if (const std::uint32_t format = subject.numberFormat(); format != kNoNumberFormat) {
            int verdict = cached.numberFormats.of(format);
            if (!verdict) {
                bool could = pattern.couldMatchTextOf(subject.numberBytes());
                cached.numberFormats.remember(format, could);
                verdict = could ? 2 : 1;
            }
            if (verdict == 1)
                return false;
        }
        // One term searches the text as it stands; a list's terms search it lowered once for all
        // of them, where their searches for a first byte skip faster than one that folds case,
        // and most of them need not search: the text lacks a letter they hold.
        bool matches;
        std::optional<bool> unlowered;
        if (!combo_ && pattern.ignoresCase() &&
            (unlowered = pattern.matchesUnlowered(subject.text()))) {
            matches = *unlowered;
        } else {
            const std::string_view text = prepared(subject, pattern.ignoresCase());
            if (combo_ && !bytesHeldReady_) {
                bytesHeld_ = SearchPattern::BytesHeld(text);
                bytesHeldReady_ = true;
            }
            matches = (!combo_ || pattern.couldMatchTextHolding(bytesHeld_)) &&
                      pattern.matchesPrepared(text);
        }
        if (shared != kNotShared)
            cached.sharedStrings.remember(shared, matches);
        return matches;
    }

    // The subject's text as patterns test it: lowered once for all of them when they ignore case.
    std::string_view prepared(Subject& subject, bool ignoreCase) {
        if (!ignoreCase)
            return subject.text();
        if (!loweredReady_) {
            LowerCaseInto(subject.text(), lowered_);
            loweredReady_ = true;
        }
        return lowered_;
    }

    // How many result rows the subject earns: 0 or 1 for the single term, one per matching entry
    // of the term list. `stopInside` makes the term loop test the stop flag (the text scan's
    // rule). The case option is read once per subject: nothing can change it before the next
    // yield.
    template <typename AddRow> void testSubject(Subject& subject, bool stopInside, AddRow addRow) {
        loweredReady_ = bytesHeldReady_ = false;
        // The case options and the list's length hold while the revision does.
        if (const std::uint64_t revision = host_.termsRevision();
            revision != revision_ || !optionsKnown_) {
            revision_ = revision;
            optionsKnown_ = true;
            ignoreCase_ = caseOption();
            termCount_ = combo_ ? host_.termCount() : 0;
            sharedMasks_.clear();
            formatMasks_.clear();
        }
        const std::optional<bool> ignoreCase = ignoreCase_;
        if (!combo_) {
            if (ignoreCase &&
                test(
                    single_, [&]() -> const std::string& { return host_.searchText(); },
                    *ignoreCase, subject))
                addRow();
            return;
        }
        const std::size_t count = termCount_;
        if (terms_.size() < count)
            terms_.resize(count);
        // A shared string or a number format already judged by the whole list needs no term.
        TermMasks* masks = nullptr;
        std::uint32_t key = subject.shared();
        if (ignoreCase && count <= TermMasks::kMaxTerms) {
            if (key != kNotShared)
                masks = &sharedMasks_;
            else if ((key = subject.numberFormat()) != kNoNumberFormat)
                masks = &formatMasks_;
        }
        std::uint64_t candidates = ~0ull;
        if (masks && masks->find(key, candidates) && masks == &sharedMasks_) {
            for (; candidates; candidates &= candidates - 1)
                addRow();
            return;
        }
        std::uint64_t matched = 0; // of the first 64 terms, all that a mask can hold
        bool whole = true;         // every term was judged
        auto judge = [&](std::size_t k) {
            try {
                auto term = [&]() -> const std::string& { return host_.term(k); };
                if (ignoreCase && test(terms_[k], term, *ignoreCase, subject)) {
                    if (k < 64)
                        matched |= 1ull << k;
                    addRow();
                }
            } catch (const Error& error) {
                whole = false;
                report(error.what());
            }
        };
        if (candidates != ~0ull && !stopInside) {
            // A format's mask (of at most kMaxTerms terms) names those left to judge.
            for (std::uint64_t left = candidates & ((1ull << count) - 1); left; left &= left - 1)
                judge(static_cast<std::size_t>(std::countr_zero(left)));
        } else {
            for (std::size_t k = 0; k < count; ++k) {
                if (stopInside && host_.stopRequested())
                    return;
                if (k >= 64 || candidates >> k & 1)
                    judge(k);
            }
        }
        if (!masks || !whole)
            return;
        if (masks == &sharedMasks_) {
            sharedMasks_.remember(key, matched);
        } else if (candidates == ~0ull) {
            // Only a term that has ruled the format out is left out.
            std::uint64_t could = 0;
            for (std::size_t k = 0; k < count; ++k)
                could |= std::uint64_t{terms_[k].numberFormats.of(key) != 1} << k;
            formatMasks_.remember(key, could);
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
        row_.sheet = sheet.name();
        std::uint32_t row = 0;
        sheet.forEachCell([&](SheetCell& cell) {
            const std::uint32_t r = cell.row();
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
            Subject subject(cell);
            // A shared string already judged needs no text, nor a number that its format shows
            // as something; a subject that shows nothing is no cell to test.
            if (subject.shared() == kNotShared && !cell.showsText())
                return true;
            counts_.cells += cell.repeat();
            // The terms of a list that match one cell give the same row: it is made once.
            std::uint32_t placed = 0;
            auto addRow = [&](std::uint32_t c) {
                if (c == placed)
                    return host_.addResultAgain(row_);
                if (placed == 0)
                    cell.copyText(row_.cellText);
                place(r, c);
                placed = c;
                host_.addResult(row_);
            };
            // A run of equal cells is tested once, as its first cell; the rows of the others
            // follow cell by cell, each after its stop test and yield.
            std::uint32_t matches = 0;
            testSubject(subject, false, [&] {
                ++matches;
                addRow(cell.column());
            });
            for (std::uint32_t i = 1; matches > 0 && i < cell.repeat(); ++i) {
                if (host_.stopRequested())
                    return false;
                host_.yieldToEvents();
                for (std::uint32_t m = 0; m < matches; ++m)
                    addRow(cell.column() + i);
            }
            return true;
        });
    }

    // The export is read back block by block while it is written, so that reading overlaps the
    // parse and the host keeps its yields even for a huge sheet.
    void textScan(Workbook& workbook, Worksheet& sheet) {
        row_.sheet = sheet.name();
        row_.location.clear();
        row_.row.clear();
        row_.col.clear();
        placedRow_ = placedColumn_ = 0;
        if (!export_)
            export_ = std::make_unique<ExportFile>();
        const int fd = export_->fd();
        std::string line; // a physical line may span blocks
        bool going = true;
        std::uint64_t taken = 0; // bytes of the text written that have been read
        // Room for a whole block of the export (64 KB of lines and the line that ends past
        // them) in one read, mostly.
        readBuffer_.resize(1 << 17);
        auto readWritten = [&](std::uint64_t end) {
            while (going && taken < end) {
                const ssize_t got =
                    ::pread(fd, readBuffer_.data(),
                            std::min<std::uint64_t>(readBuffer_.size(), end - taken),
                            static_cast<off_t>(taken));
                if (got <= 0)
                    throw Error("The temporary text export cannot be read");
                taken += static_cast<std::uint64_t>(got);
                going = testLines(readBuffer_.data(), static_cast<std::size_t>(got), line);
            }
            if (!going)
                return ExportNext::Stop;
            // Everything written is read: once the file holds a few blocks the export starts
            // over, so a huge sheet never costs more disk than that.
            if (taken < kExportRestartBytes)
                return ExportNext::Continue;
            taken = 0;
            return ExportNext::StartOver;
        };
        workbook.saveAs(export_->path(), FileFormat::TextTabDelimited, &sheet, readWritten);
        if (going && !line.empty())
            testLine(line);
    }

    // A cell's location ("C7"), row and column as a result row gives them, written over the
    // row's previous ones without allocating; what is like the last cell's is kept.
    void place(std::uint32_t r, std::uint32_t c) {
        if (r == placedRow_ && c == placedColumn_)
            return;
        char digits[16];
        if (r != placedRow_)
            Overwrite(row_.row, digits, std::to_chars(digits, digits + sizeof digits, r).ptr);
        if (c != placedColumn_)
            Overwrite(row_.col, digits, std::to_chars(digits, digits + sizeof digits, c).ptr);
        char location[kMaxColumnLetters + sizeof digits];
        char* rowDigits = location + kMaxColumnLetters;
        char* letters = ColumnLettersEndingAt(rowDigits, c);
        Overwrite(row_.location, letters, std::copy(row_.row.begin(), row_.row.end(), rowDigits));
        placedRow_ = r;
        placedColumn_ = c;
    }

    // [from, to) in place of `text`'s bytes, written over them when it is as long, as a place
    // mostly is from one result to the next: a copy of a few bytes, not a string's replace.
    static void Overwrite(std::string& text, const char* from, const char* to) {
        const auto size = static_cast<std::size_t>(to - from);
        if (text.size() != size)
            return static_cast<void>(text.assign(from, size));
        char* out = text.data();
        for (std::size_t i = 0; i < size; ++i)
            out[i] = from[i];
    }

    // Tests each physical line (without its LF or CR LF) that `bytes` completes; false once the
    // stop flag is set. A line that lies whole in `bytes` is tested where it lies; `line` holds
    // one that began in an earlier block.
    bool testLines(const char* bytes, std::size_t size, std::string& line) {
        const char* at = bytes;
        const char* end = bytes + size;
        while (at < end) {
            const char* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
            if (!newline) {
                line.append(at, end);
                break;
            }
            std::string_view whole(at, static_cast<std::size_t>(newline - at));
            if (!line.empty()) {
                line.append(whole);
                whole = line;
            }
            at = newline + 1;
            if (!whole.empty() && whole.back() == '\r')
                whole.remove_suffix(1);
            if (!testLine(whole))
                return false;
            line.clear();
        }
        return true;
    }

    // False once the stop flag is set.
    bool testLine(std::string_view line) {
        if (host_.stopRequested())
            return false;
        host_.yieldToEvents();
        ++counts_.cells;
        Subject subject(line);
        testSubject(subject, true, [&] {
            row_.cellText = line;
            host_.addResult(row_);
        });
        if (++lines_ % 100 == 0)
            progress(lines_);
        return true;
    }

    std::string fileName_;
    SearchHost& host_;
    bool combo_;
    const char* location_;
    SearchCounts counts_;
    CachedPattern single_;
    std::vector<CachedPattern> terms_;
    std::uint64_t revision_ = 0; // the host's terms revision at the last subject
    bool optionsKnown_ = false;  // whether the two below were read at that revision
    std::optional<bool> ignoreCase_;
    std::size_t termCount_ = 0;
    TermMasks sharedMasks_;
    TermMasks formatMasks_;
    bool reportedBadPattern_ = false;
    std::string lowered_;
    bool loweredReady_ = false;
    std::uint64_t bytesHeld_ = 0; // of the prepared text, for a term list
    bool bytesHeldReady_ = false;
    ResultRow row_; // made again for every result row, in the same storage
    std::uint32_t placedRow_ = 0, placedColumn_ = 0; // of row_'s place; 0 when it has none
    std::uint32_t lines_ = 0;                        // counts on across worksheets
    std::unique_ptr<ExportFile> export_;
    std::vector<char> readBuffer_; // the export's text as read back
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
    char letters[kMaxColumnLetters];
    return std::string(ColumnLettersEndingAt(letters + sizeof letters, column),
                       letters + sizeof letters);
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
