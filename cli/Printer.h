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

// Makes the lines that result rows print as, in the form the options ask for. One serves the
// rows of one file at a time: a worker formats its file's rows without waiting for the output.
class RowFormatter {
public:
    RowFormatter(const Options& options, bool color);

    // Appends the row in the TAB-separated line form or as JSON; nothing for the forms that print
    // per file.
    void append(const ResultRow& row, std::string& out);
    // The row appended last, once more: its bytes are copied when they still end `out`.
    void appendAgain(const ResultRow& row, std::string& out);

private:
    void appendLine(const ResultRow& row, std::string& out);
    void appendJson(const ResultRow& row, std::string& out) const;

    Output output_;
    bool color_;
    std::optional<MatchFinder> matches_; // its patterns keep scratch space: one per formatter
    // The file and sheet of the last row, and both as printed, each followed by a tab.
    std::string printedFile_;
    std::string printedSheet_;
    std::string shownPlace_;
    std::size_t lastStart_ = 0; // where the last row's bytes begin and end in its `out`
    std::size_t lastEnd_ = 0;
};

// Writes what the command line prints to stdout.
class Printer {
public:
    // `sharedTerminal`: the progress line when stdout goes to the same terminal, else null.
    Printer(const Options& options, bool color, ProgressLine* sharedTerminal);

    // Whether each row is to be written as it comes (a terminal), not in blocks.
    bool rowsAtOnce() const { return sharedTerminal_ != nullptr; }
    // Formatted rows.
    void write(std::string_view bytes);
    // After a file has been searched: its name for -l, its count for -c.
    void fileDone(const std::string& path, std::size_t rows, bool withName);
    // Flushes stdout: before anything is written to stderr, and at the end.
    void flush();

private:
    static constexpr std::size_t kStraightBytes = 1 << 14; // and more: written without stdio

    Output output_;
    bool color_;
    ProgressLine* sharedTerminal_;
};

} // namespace gq::cli
