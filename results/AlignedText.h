#pragma once

#include "Error.h"
#include "ResultTable.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gq {

// The widest text of each column over every row, checked or not; with `withHeaders` the header
// texts count too. Yields at every cell. A cell that cannot be read goes to `unreadable` (which
// then counts it as empty) or, without one, ends the measuring with its error.
std::vector<std::size_t> ColumnWidths(const ResultTable& table, bool withHeaders,
                                      const Yield& yield,
                                      const std::function<void(const Error&)>& unreadable = {});

// The clipboard text of a list: one line per checked row, every cell but the last padded with
// spaces to its column's width and followed by a TAB, trailing spaces taken off the line, CR LF
// after every line; no header line. Nothing when the list has no rows (the clipboard is then
// left as it is). Throws gq::Error when a row goes away meanwhile.
std::optional<std::string> ClipboardText(const ResultTable& table, const Yield& yield);

// The system clipboard, or a test's stand-in: each operation says whether it got through.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool clear() = 0;
    // `format` 0 is the default plain-text format.
    virtual bool setText(const std::string& utf8, int format) = 0;
};

// The application's clipboard (QGuiApplication::clipboard()).
class SystemClipboard : public Clipboard {
public:
    bool clear() override;
    bool setText(const std::string& utf8, int format) override;
};

inline constexpr int kClipboardAttempts = 1000;

// Each makes its operation up to kClipboardAttempts times, until it gets through; failures are
// never reported. SetClipboardText is true when the last attempt got through.
void ClearClipboard(Clipboard& clipboard);
bool SetClipboardText(Clipboard& clipboard, const std::string& text, int format);

// Puts the list's clipboard text on the clipboard; an empty list leaves it alone. Throws like
// ClipboardText.
void CopyListviewToClipboard(const ResultTable& table, Clipboard& clipboard, const Yield& yield);

// Where the text-file writer shows its progress: a bar with a value from 0 to 100 and a caption.
class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void setValue(double value) = 0;
    virtual void setText(const std::string& text) = 0;
};

// Where a failure of the writer is reported from ("Excel1.SaveListviewProperlySpaced").
inline constexpr const char* kTextFileModule = "Excel1";
inline constexpr const char* kTextFileRoutine = "SaveListviewProperlySpaced";
inline constexpr const char* kProgressRestingText = "Progress Bar";

// Writes the list as aligned text: the header line, then one line per checked row; every cell
// padded with spaces to its column's width (headers included) and followed by a TAB; CR LF after
// every line; UTF-8. The file is written through a save file, so a failed write leaves any
// earlier file of that name as it was. Failures are reported through `report` with the step's
// line and the writer goes on where that is sound; a file that cannot be created is reported
// once and ends the writer. `progress` may be null.
void SaveListviewProperlySpaced(const ResultTable& table, const std::string& fileName,
                                ProgressDisplay* progress, const Yield& yield,
                                const StepReporter& report);

} // namespace gq
