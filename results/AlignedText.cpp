#include "AlignedText.h"

#include "Error.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSaveFile>
#include <QString>

#include <algorithm>

namespace gq {

namespace {

constexpr qsizetype kWriteBlockBytes = 1 << 20;

// The text, then spaces up to the width when it fits, then the TAB.
void AppendCell(std::string& out, std::string_view text, std::size_t width) {
    out.append(text);
    std::size_t length = TextLength(text);
    if (width >= length)
        out.append(width - length, ' ');
    out += '\t';
}

void Yielded(const Yield& yield) {
    if (yield)
        yield();
}

std::string Describe(const std::exception& e) {
    return e.what();
}

} // namespace

std::vector<std::size_t> ColumnWidths(const ResultTable& table, bool withHeaders,
                                      const Yield& yield,
                                      const std::function<void(const Error&)>& unreadable) {
    // Row by row, so that a table that fetches a whole row at a time fetches each row once.
    const int columns = table.columnCount();
    std::vector<std::size_t> widths(static_cast<std::size_t>(std::max(columns, 0)), 0);
    if (withHeaders)
        for (int c = 0; c < columns; ++c)
            widths[static_cast<std::size_t>(c)] = TextLength(table.header(c));
    const std::size_t rows = table.rowCount();
    for (std::size_t r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            Yielded(yield);
            std::size_t& width = widths[static_cast<std::size_t>(c)];
            try {
                width = std::max(width, TextLength(table.text(r, c)));
            } catch (const Error& e) {
                if (!unreadable)
                    throw;
                unreadable(e);
            }
        }
    }
    return widths;
}

std::optional<std::string> ClipboardText(const ResultTable& table, const Yield& yield) {
    if (table.rowCount() == 0)
        return std::nullopt;
    const std::vector<std::size_t> widths = ColumnWidths(table, false, yield);
    std::string text;
    const std::size_t rows = table.rowCount();
    const int columns = table.columnCount();
    // Room for every line at its widest, so that a long list is not copied over and over as
    // the text grows; one very long text must not make every line reserve its width.
    constexpr std::size_t kMostReserved = std::size_t(1) << 28;
    std::size_t line = 2;
    for (std::size_t width : widths)
        line += width + 1;
    if (rows > 0)
        text.reserve(line <= kMostReserved / rows ? line * rows : kMostReserved);
    for (std::size_t r = 0; r < rows; ++r) {
        Yielded(yield);
        if (!table.checked(r))
            continue;
        for (int c = 0; c < columns; ++c) {
            Yielded(yield);
            AppendCell(text, table.text(r, c), widths[static_cast<std::size_t>(c)]);
        }
        // The last cell keeps neither its TAB nor the spaces that end the line.
        if (!text.empty() && text.back() == '\t')
            text.pop_back();
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        text += "\r\n";
    }
    return text;
}

bool SystemClipboard::clear() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool SystemClipboard::setText(const std::string& utf8, int) {
    // Plain text is the only format there is to choose here.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(QString::fromStdString(utf8));
    return true;
}

void ClearClipboard(Clipboard& clipboard) {
    for (int attempt = 0; attempt < kClipboardAttempts && !clipboard.clear(); ++attempt) {
    }
}

bool SetClipboardText(Clipboard& clipboard, const std::string& text, int format) {
    bool done = false;
    for (int attempt = 0; attempt < kClipboardAttempts && !done; ++attempt)
        done = clipboard.setText(text, format);
    return done;
}

void CopyListviewToClipboard(const ResultTable& table, Clipboard& clipboard, const Yield& yield) {
    std::optional<std::string> text = ClipboardText(table, yield);
    if (!text)
        return;
    ClearClipboard(clipboard);
    SetClipboardText(clipboard, *text, 0);
}

void SaveListviewProperlySpaced(const ResultTable& table, const std::string& fileName,
                                ProgressDisplay* progress, const Yield& yield,
                                const StepReporter& report) {
    const std::string name = FileNameOfPath(fileName);
    const std::string writing = "Writing file: " + name;
    auto rest = [&] {
        if (progress) {
            progress->setValue(0);
            progress->setText(kProgressRestingText);
        }
    };
    if (progress) {
        Yielded(yield);
        progress->setValue(1);
        progress->setText(writing);
        Yielded(yield);
    }

    const std::vector<std::size_t> widths =
        ColumnWidths(table, true, yield, [&](const Error& e) { report(126, Describe(e)); });
    const int columns = table.columnCount();
    if (progress) {
        Yielded(yield);
        progress->setValue(10);
        progress->setText(writing);
        Yielded(yield);
    }

    QSaveFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::WriteOnly)) {
        report(156,
               "The file " + fileName + " cannot be created: " + file.errorString().toStdString());
        rest();
        return;
    }
    std::string block; // whole lines, handed to the file a megabyte at a time
    // A failed write is reported once and ends the writer; the save file is then dropped.
    auto flush = [&](int line, bool always) {
        if (!always && block.size() < kWriteBlockBytes)
            return true;
        if (file.write(block.data(), static_cast<qint64>(block.size())) !=
            static_cast<qint64>(block.size())) {
            report(line, "The file " + fileName +
                             " cannot be written: " + file.errorString().toStdString());
            file.cancelWriting();
            rest();
            return false;
        }
        block.clear();
        return true;
    };

    for (int c = 0; c < columns; ++c) {
        Yielded(yield);
        AppendCell(block, table.header(c), widths[static_cast<std::size_t>(c)]);
    }
    block += "\r\n";
    if (!flush(170, false))
        return;
    if (progress) {
        Yielded(yield);
        progress->setValue(20);
        progress->setText(writing);
        Yielded(yield);
    }

    const std::size_t rows = table.rowCount();
    for (std::size_t r = 0; r < rows; ++r) {
        Yielded(yield);
        try {
            if (!table.checked(r))
                continue;
        } catch (const Error& e) {
            // A row gone from the list: its columns fail in turn and it becomes an empty line.
            report(188, Describe(e));
        }
        for (int c = 0; c < columns; ++c) {
            Yielded(yield);
            try {
                std::string_view text = table.text(r, c);
                AppendCell(block, text, widths[static_cast<std::size_t>(c)]);
            } catch (const Error& e) {
                report(194, Describe(e));
            }
        }
        if (progress) {
            Yielded(yield);
            const std::size_t n = table.rowCount();
            if (n > 0) {
                const double index = static_cast<double>(r + 1);
                double position = (index + static_cast<double>(n / 2000)) / n * 100;
                progress->setValue(std::min(position, 100.0));
            }
            if ((r + 1) % 1000 == 0)
                progress->setText(writing + " (" + std::to_string(r + 1) + ")");
            Yielded(yield);
        }
        block += "\r\n";
        if (!flush(222, false))
            return;
    }
    if (!flush(222, true))
        return;
    if (progress) {
        progress->setValue(100);
        progress->setText("Done.");
    }
    if (!file.commit())
        report(232,
               "The file " + fileName + " cannot be written: " + file.errorString().toStdString());
    rest();
}

} // namespace gq
