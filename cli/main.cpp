// gridquest-find: the workbook search on the command line, for scripts and benchmarks.
#include "Error.h"
#include "FolderWalk.h"
#include "InOrder.h"
#include "Options.h"
#include "Printer.h"
#include "ProgressLine.h"
#include "Spreadsheet.h"
#include "WorkbookSearch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using gq::cli::InOrder;
using gq::cli::Options;
using gq::cli::Output;

// How the rows are to be printed: what every file's host shares.
struct RowOutput {
    bool color;
    bool atOnce; // a terminal shows each row as it comes
};

// The host of one file's search: what it finds goes to the ordered output under the file's place.
// Its rows are formatted here, on the worker's thread, and handed over in blocks.
class FileHost : public gq::SearchHost {
public:
    FileHost(const Options& options, RowOutput rowOutput, InOrder& output, std::size_t index,
             const std::string& path, bool walked)
        : options_(options), atOnce_(rowOutput.atOnce), formatter_(options, rowOutput.color),
          output_(output), index_(index), path_(path), walked_(walked) {}

    const std::string& searchText() override { return options_.term; }
    std::size_t termCount() override { return options_.terms.size(); }
    const std::string& term(std::size_t index) override { return options_.terms.at(index); }
    std::uint64_t termsRevision() override { return 0; } // the options never change
    bool matchCase() override { return options_.matchCase; }
    bool ignoreCase() override { return !options_.matchCase; }
    bool retrieveLocations() override { return !options_.noLocations; }
    bool skipLocations() override { return options_.noLocations; }
    // A file's name is printed once at its first row, so the rest of it need not be read.
    bool stopRequested() override {
        return options_.output == Output::FilesWithMatches && rows_ > 0;
    }
    void setProgressText(const std::string&) override {}
    void yieldToEvents() override {}
    void addResult(const gq::ResultRow& row) override {
        formatter_.append(row, held_);
        rowFormatted();
    }
    void addResultAgain(const gq::ResultRow& row) override {
        formatter_.appendAgain(row, held_);
        rowFormatted();
    }
    void reportError(const std::string&, int, const std::string& description) override {
        handOver();
        output_.failure(index_, path_, description);
    }

    // Opens and searches the file; a file that cannot be searched says why in its place.
    void search() {
        try {
            auto application = gq::SpreadsheetApplication::create();
            gq::Workbook& workbook = application->workbooks().open(path_);
            auto counts = options_.multiple ? gq::ExcelSearchWorkbookCombo(path_, &workbook, *this)
                                            : gq::ExcelSearchWorkbook(path_, &workbook, *this);
            handOver();
            output_.done(index_, path_, rows_, &counts);
            return;
        } catch (const gq::Error& error) {
            handOver();
            // A walked file that cannot be opened is left out, as if never listed.
            if (walked_ && rows_ == 0 && std::strcmp(error.what(), gq::kCannotBeRead) == 0)
                return output_.done(index_, path_, 0, nullptr);
            output_.failure(index_, path_, error.what());
        } catch (const std::bad_alloc&) {
            handOver();
            output_.failure(index_, path_, "Not enough memory to read the file");
        }
        output_.done(index_, path_, rows_, nullptr);
    }

private:
    static constexpr std::size_t kBlockBytes = 1 << 17;

    // A row formatted: the rows go to the ordered output in blocks, or one by one to a terminal.
    void rowFormatted() {
        ++rows_;
        ++heldRows_;
        if (atOnce_ || held_.size() >= kBlockBytes)
            handOver();
    }

    // The rows formatted so far go to the ordered output.
    void handOver() {
        if (heldRows_ == 0)
            return;
        output_.rows(index_, held_, heldRows_);
        held_.clear();
        heldRows_ = 0;
    }

    const Options& options_;
    bool atOnce_;
    gq::cli::RowFormatter formatter_;
    std::string held_;
    std::size_t heldRows_ = 0;
    InOrder& output_;
    std::size_t index_;
    const std::string& path_;
    bool walked_;
    std::size_t rows_ = 0;
};

// The files to search. A folder scan leaves out a file that cannot be opened: the walk leaves
// that test to the workers, whose opening the file to search it is the test.
struct FileList {
    std::vector<std::string> paths;
    std::vector<bool> walked;
};

// Searches the files with `threads` workers, each taking the next file not yet taken.
void SearchAll(const Options& options, RowOutput rowOutput, const FileList& files, unsigned threads,
               InOrder& output) {
    std::atomic<std::size_t> next = 0;
    auto work = [&] {
        for (std::size_t index; (index = next++) < files.paths.size();) {
            output.waitForStart(index);
            FileHost(options, rowOutput, output, index, files.paths[index], files.walked[index])
                .search();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < threads && i < files.paths.size(); ++i)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
}

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
    FileList files;
    std::vector<std::pair<std::string, std::string>> walkFailures;
    bool folderGiven = false;
    for (const std::string& path : options.paths) {
        if (gq::IsFolder(path)) {
            folderGiven = true;
            gq::WalkHooks hooks;
            hooks.reportError = [&](const std::string& reason) {
                walkFailures.emplace_back(path, reason);
            };
            hooks.testOpening = false;
            auto found = gq::FolderWalk(hooks).FilesInTree(path, "*." + options.extension);
            files.paths.insert(files.paths.end(), found.begin(), found.end());
            files.walked.resize(files.paths.size(), true);
        } else {
            files.paths.push_back(path);
            files.walked.push_back(false);
        }
    }
    // As grep does, counts name their file unless one file was named alone.
    bool countsNamed = folderGiven || options.paths.size() > 1;
    const unsigned threads =
        options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    // Each worker may have a file under way and another finished, waiting for its turn.
    InOrder output(files.paths.size(), 2 * threads, printer, progress, countsNamed);
    for (const auto& [path, reason] : walkFailures)
        output.failureNow(path, reason);
    SearchAll(options, {color, stdoutIsTerminal}, files, threads, output);
    progress.withoutLine([&] {
        printer.flush();
        if (!options.stats)
            return;
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "files=%zu sheets=%zu cells=%zu rows=%zu seconds=%.3f\n",
                     output.searchedFiles(), output.counts().sheets, output.counts().cells,
                     output.rows(), seconds);
    });
    if (output.failed())
        return 2;
    return output.rows() > 0 ? 0 : 1;
}
