#pragma once

#include "MatchSpans.h"
#include "Options.h"
#include "ProgressLine.h"
#include "WorkbookSearch.h"

#include <optional>
#include <string>

namespace gq::cli {

// Appends `text` as a JSON string: quotes, backslash and control characters escaped, and each
// byte that is not part of valid UTF-8 (overlong forms, surrogates and code points past U+10FFFF
// included) replaced by U+FFFD, so the line is always valid JSON.
void AppendJsonString(std::string_view text, std::string& out);

// Writes what the command line prints to stdout, in the form the options ask for.
class Printer {
public:
    // `sharedTerminal`: the progress line when stdout goes to the same terminal, else null.
    Printer(const Options& options, bool color, ProgressLine* sharedTerminal);

    // A row in the TAB-separated line form or as JSON; the other forms print per file.
    void row(const ResultRow& row);
    // After a file has been searched: its name for -l, its count for -c.
    void fileDone(const std::string& path, std::size_t rows, bool withName);
    // Writes out what is held and flushes stdout: before anything else is written, and at the end.
    void flush();

private:
    void appendLine(const ResultRow& row);
    void appendJson(const ResultRow& row);
    void appendColored(std::string& out, const char* color, const std::string& text) const;
    void write();

    static constexpr std::size_t kWriteBytes = 1 << 15;

    Output output_;
    bool color_;
    std::optional<MatchFinder> matches_;
    ProgressLine* sharedTerminal_;
    std::string line_;
    std::string printedFile_; // the file of the last row, and its name as printed
    std::string shownFile_;
};

} // namespace gq::cli
