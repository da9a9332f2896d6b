// gridquest-find: the workbook search on the command line, for scripts and benchmarks.
#include "Error.h"
#include "FolderWalk.h"
#include "Spreadsheet.h"
#include "TermListFile.h"
#include "WorkbookSearch.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: gridquest-find [-c|--match-case] [--no-locations] [-f TERMFILE]... [--ext PATTERN]\n"
    "                      [--stats] [TERM] PATH...\n";

struct Options {
    bool matchCase = false;
    bool noLocations = false;
    bool stats = false;
    bool multiple = false;
    std::string extension = "xl*";
    std::string term;
    std::vector<std::string> terms;
    std::vector<std::string> paths;
};

// Every result becomes one line: the six columns TAB-separated, with TAB, CR, LF and backslash
// escaped inside them. Runs without those characters are copied whole.
void WriteEscaped(const std::string& text, std::string& out) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escape = nullptr;
        switch (text[i]) {
        case '\t': escape = "\\t"; break;
        case '\r': escape = "\\r"; break;
        case '\n': escape = "\\n"; break;
        case '\\': escape = "\\\\"; break;
        default: continue;
        }
        out.append(text, start, i - start);
        out += escape;
        start = i + 1;
    }
    out.append(text, start, std::string::npos);
}

class CommandLineHost : public gq::SearchHost {
public:
    explicit CommandLineHost(const Options& options) : options_(options) {}

    std::string searchText() override { return options_.term; }
    std::size_t termCount() override { return options_.terms.size(); }
    std::string term(std::size_t index) override { return options_.terms.at(index); }
    bool matchCase() override { return options_.matchCase; }
    bool ignoreCase() override { return !options_.matchCase; }
    bool retrieveLocations() override { return !options_.noLocations; }
    bool skipLocations() override { return options_.noLocations; }
    bool stopRequested() override { return false; }
    void setProgressText(const std::string&) override {}
    void yieldToEvents() override {}

    void addResult(gq::ResultRow row) override {
        line_.clear();
        for (const std::string* column :
             {&row.file, &row.sheet, &row.location, &row.cellText, &row.row, &row.col}) {
            if (column != &row.file)
                line_ += '\t';
            WriteEscaped(*column, line_);
        }
        line_ += '\n';
        std::fwrite(line_.data(), 1, line_.size(), stdout);
        ++rows_;
    }

    void reportError(const std::string&, int, const std::string& description) override {
        fail(path_, description);
    }

    void fail(const std::string& path, const std::string& reason) {
        std::fflush(stdout);
        std::fprintf(stderr, "gridquest-find: %s: %s\n", path.c_str(), reason.c_str());
        failed_ = true;
    }

    void setPath(const std::string& path) { path_ = path; }
    std::size_t rows() const { return rows_; }
    bool failed() const { return failed_; }

private:
    const Options& options_;
    std::string path_;
    std::string line_;
    std::size_t rows_ = 0;
    bool failed_ = false;
};

bool ParseArguments(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "-c" || arg == "--match-case") {
            options.matchCase = true;
        } else if (arg == "--no-locations") {
            options.noLocations = true;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--ext") {
            if (!value(options.extension))
                return false;
        } else if (arg == "-f") {
            std::string file;
            if (!value(file))
                return false;
            try {
                auto terms = gq::ReadTermListFile(file);
                options.terms.insert(options.terms.end(), terms.begin(), terms.end());
            } catch (const gq::Error& error) {
                std::fprintf(stderr, "gridquest-find: %s: %s\n", file.c_str(), error.what());
                return false;
            }
            options.multiple = true;
        } else {
            std::fprintf(stderr, "gridquest-find: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    std::size_t first = 0;
    if (!options.multiple) {
        if (positional.empty())
            return false;
        options.term = positional[first++];
    }
    options.paths.assign(positional.begin() + static_cast<long>(first), positional.end());
    return !options.paths.empty();
}

} // namespace

int main(int argc, char** argv) {
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    auto started = std::chrono::steady_clock::now();
    CommandLineHost host(options);
    std::vector<std::string> files;
    for (const std::string& path : options.paths) {
        if (gq::IsFolder(path)) {
            gq::FolderWalk walk(
                {[] {}, [&](const std::string& reason) { host.fail(path, reason); }});
            auto found = walk.FilesInTree(path, "*." + options.extension);
            files.insert(files.end(), found.begin(), found.end());
        } else {
            files.push_back(path);
        }
    }
    gq::SearchCounts total;
    std::size_t searchedFiles = 0;
    for (const std::string& file : files) {
        host.setPath(file);
        try {
            auto application = gq::SpreadsheetApplication::create();
            gq::Workbook& workbook = application->workbooks().open(file);
            auto counts = options.multiple ? gq::ExcelSearchWorkbookCombo(file, &workbook, host)
                                           : gq::ExcelSearchWorkbook(file, &workbook, host);
            total.sheets += counts.sheets;
            total.cells += counts.cells;
            ++searchedFiles;
        } catch (const gq::Error& error) {
            host.fail(file, error.what());
        } catch (const std::bad_alloc&) {
            host.fail(file, "Not enough memory to read the file");
        }
    }
    std::fflush(stdout);
    if (options.stats) {
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "files=%zu sheets=%zu cells=%zu rows=%zu seconds=%.3f\n",
                     searchedFiles, total.sheets, total.cells, host.rows(), seconds);
    }
    if (host.failed())
        return 2;
    return host.rows() > 0 ? 0 : 1;
}
