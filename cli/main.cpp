// gridquest-find: the workbook search on the command line, for scripts and benchmarks.
#include "Error.h"
#include "FolderWalk.h"
#include "Options.h"
#include "Printer.h"
#include "ProgressLine.h"
#include "Spreadsheet.h"
#include "WorkbookSearch.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using gq::cli::Options;
using gq::cli::Output;

class CommandLineHost : public gq::SearchHost {
public:
    CommandLineHost(const Options& options, gq::cli::Printer& printer,
                    gq::cli::ProgressLine& progress)
        : options_(options), printer_(printer), progress_(progress) {}

    std::string searchText() override { return options_.term; }
    std::size_t termCount() override { return options_.terms.size(); }
    std::string term(std::size_t index) override { return options_.terms.at(index); }
    bool matchCase() override { return options_.matchCase; }
    bool ignoreCase() override { return !options_.matchCase; }
    bool retrieveLocations() override { return !options_.noLocations; }
    bool skipLocations() override { return options_.noLocations; }
    // A file's name is printed once at its first row, so the rest of it need not be read.
    bool stopRequested() override {
        return options_.output == Output::FilesWithMatches && fileRows_ > 0;
    }
    void setProgressText(const std::string&) override {}
    void yieldToEvents() override {}

    void addResult(gq::ResultRow row) override {
        printer_.row(row);
        ++fileRows_;
        ++rows_;
    }

    void reportError(const std::string&, int, const std::string& description) override {
        fail(path_, description);
    }

    void fail(const std::string& path, const std::string& reason) {
        progress_.withoutLine([&] {
            std::fflush(stdout);
            std::fprintf(stderr, "gridquest-find: %s: %s\n", path.c_str(), reason.c_str());
        });
        failed_ = true;
    }

    void startFile(const std::string& path) {
        path_ = path;
        fileRows_ = 0;
    }
    std::size_t fileRows() const { return fileRows_; }
    std::size_t rows() const { return rows_; }
    bool failed() const { return failed_; }

private:
    const Options& options_;
    gq::cli::Printer& printer_;
    gq::cli::ProgressLine& progress_;
    std::string path_;
    std::size_t fileRows_ = 0;
    std::size_t rows_ = 0;
    bool failed_ = false;
};

} // namespace

int main(int argc, char** argv) {
    bool stdoutIsTerminal = isatty(STDOUT_FILENO) == 1;
    // A terminal shows each line at once; a pipe or file gets large writes.
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, stdoutIsTerminal ? _IOLBF : _IOFBF, sizeof outputBuffer);
    Options options;
    switch (gq::cli::ParseArguments(argc, argv, options)) {
    case gq::cli::Parsed::Run:
        break;
    case gq::cli::Parsed::Done:
        return 0;
    case gq::cli::Parsed::UsageError:
        return 2;
    }
    auto started = std::chrono::steady_clock::now();
    gq::cli::ProgressLine progress(isatty(STDERR_FILENO) == 1);
    bool color = gq::cli::UseColor(options.color, stdoutIsTerminal, std::getenv("NO_COLOR"),
                                   std::getenv("TERM"));
    gq::cli::Printer printer(options, color, stdoutIsTerminal ? &progress : nullptr);
    CommandLineHost host(options, printer, progress);
    std::vector<std::string> files;
    bool folderGiven = false;
    for (const std::string& path : options.paths) {
        if (gq::IsFolder(path)) {
            folderGiven = true;
            gq::FolderWalk walk(
                {[] {}, [&](const std::string& reason) { host.fail(path, reason); }});
            auto found = walk.FilesInTree(path, "*." + options.extension);
            files.insert(files.end(), found.begin(), found.end());
        } else {
            files.push_back(path);
        }
    }
    // As grep does, counts name their file unless one file was named alone.
    bool countsNamed = folderGiven || options.paths.size() > 1;
    gq::SearchCounts total;
    std::size_t searchedFiles = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& file = files[i];
        host.startFile(file);
        progress.startFile(i + 1, files.size());
        try {
            auto application = gq::SpreadsheetApplication::create();
            gq::Workbook& workbook = application->workbooks().open(file);
            auto counts = options.multiple ? gq::ExcelSearchWorkbookCombo(file, &workbook, host)
                                           : gq::ExcelSearchWorkbook(file, &workbook, host);
            total.sheets += counts.sheets;
            total.cells += counts.cells;
            ++searchedFiles;
            printer.fileDone(file, host.fileRows(), countsNamed);
        } catch (const gq::Error& error) {
            host.fail(file, error.what());
        } catch (const std::bad_alloc&) {
            host.fail(file, "Not enough memory to read the file");
        }
    }
    progress.withoutLine([&] {
        std::fflush(stdout);
        if (!options.stats)
            return;
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "files=%zu sheets=%zu cells=%zu rows=%zu seconds=%.3f\n",
                     searchedFiles, total.sheets, total.cells, host.rows(), seconds);
    });
    if (host.failed())
        return 2;
    return host.rows() > 0 ? 0 : 1;
}
