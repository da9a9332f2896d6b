// The result actions at scale, offscreen: the text file and the clipboard text of a million
// result rows with the longest wait an input event had meanwhile, the result workbook handed to
// a sheet window until that window has read it, and a large workbook opened in a sheet window.
#include "AlignedText.h"
#include "BenchWindow.h"
#include "Controls.h"
#include "Form1.h"
#include "ResultActions.h"
#include "ResultsModel.h"
#include "ScriptedPrompts.h"
#include "SheetChannel.h"
#include "VisibleInstance.h"
#include "WorkbookSearch.h"

#include <xlsxwriter.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* kWords[] = {"tea", "bread", "stone", "river", "apple", "north", "clear", "metal"};

void FillResults(gq::ResultsModel& results, long rows) {
    for (long i = 0; i < rows; ++i) {
        const int row = static_cast<int>(i % 100000) + 1, col = static_cast<int>(i % 7) + 1;
        results.append({"/home/user/Documents/workbooks/book-" + std::to_string(i / 5000) + ".xlsx",
                        "Sheet" + std::to_string(i % 3 + 1),
                        gq::ColumnLetters(col) + std::to_string(row),
                        std::string(kWords[i % 8]) + " " + kWords[(i / 8) % 8] + " " +
                            std::to_string(i % 1000),
                        std::to_string(row), std::to_string(col)});
    }
    results.flush();
}

// ROWS rows of six columns: texts and numbers, as a large real sheet holds them.
int MakeWorkbook(const char* path, long rows) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(path, &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Data");
    for (long r = 0; r < rows; ++r) {
        const auto row = static_cast<lxw_row_t>(r);
        worksheet_write_string(sheet, row, 0, ("item " + std::to_string(r)).c_str(), nullptr);
        worksheet_write_string(sheet, row, 1, kWords[r % 8], nullptr);
        worksheet_write_number(sheet, row, 2, static_cast<double>(r % 977) * 1.25, nullptr);
        worksheet_write_string(sheet, row, 3, (std::string(kWords[(r / 8) % 8]) + " tea").c_str(),
                               nullptr);
        worksheet_write_number(sheet, row, 4, static_cast<double>(r), nullptr);
        worksheet_write_string(sheet, row, 5, "x", nullptr);
    }
    return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}

long PeakKilobytesOf(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return -1;
}

void EndWindow(qint64 pid, const QString& socket) {
    try {
        gq::channel::Client client(socket);
        if (client.connect(2000))
            client.request("discard", {}, 5000);
    } catch (const std::exception&) {
    }
    for (int i = 0; i < 250 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i)
        QThread::msleep(20);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

// Opens FILE in a sheet window of its own; prints the time until every sheet is read, the
// window's peak memory, and the time to select the last row and read its text.
int OpenInSheetWindow(const QString& file) {
    const QString socket = gq::channel::NewInstanceName();
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QString::fromStdString(gq::SheetProgramPath()), {"--listen", socket, file});
    gq::channel::Client client(socket);
    if (!client.connect(30000))
        return 1;
    const double listening = clock.nsecsElapsed() / 1e9;
    client.request("wait", {}, 600000);
    const double loaded = clock.nsecsElapsed() / 1e9;
    const std::string state = client.request("state", {}, 60000);
    QElapsedTimer select;
    select.start();
    const QJsonDocument parsed = QJsonDocument::fromJson(QByteArray::fromStdString(state));
    client.request("cell", {parsed["sheet"].toString(), "1000000", "1"}, 60000);
    const std::string text = client.request("text", {"1000000", "1"}, 60000);
    std::printf("sheet_window_listening_s=%.3f\nsheet_window_loaded_s=%.3f\n"
                "sheet_window_select_last_row_ms=%.1f\nsheet_window_peak_mb=%.1f\n"
                "sheet_window_last_row_text=%s\n",
                listening, loaded, select.nsecsElapsed() / 1e6,
                PeakKilobytesOf(process.processId()) / 1024.0, text.c_str());
    client.request("discard", {}, 5000);
    process.waitForFinished(10000);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make-workbook" && argc == 4)
        return MakeWorkbook(argv[2], std::atol(argv[3]));
    if ((mode != "text" && mode != "clipboard" && mode != "workbook" && mode != "sheet") ||
        argc != 3) {
        std::fputs("usage: results-driver text|clipboard|workbook ROWS | sheet FILE | "
                   "make-workbook OUT.xlsx ROWS\n",
                   stderr);
        return 2;
    }
    // Nothing of the user's: settings, sockets and temporary files in a folder of this run.
    QTemporaryDir home;
    gqbench::UseBenchEnvironment(home);
    qputenv("TMPDIR", home.path().toLocal8Bit());
    QApplication application(argc, argv);
    if (mode == "sheet")
        return OpenInSheetWindow(QString::fromLocal8Bit(argv[2]));

    gq::ScriptedPrompts prompts;
    std::unique_ptr<gq::Form1> window = gqbench::StartWindow(prompts, home);
    if (!window)
        return 1;
    gq::Form1& form = *window;
    const long rows = std::atol(argv[2]);
    FillResults(*form.results(), rows);
    QApplication::processEvents();
    std::printf("rows=%ld\n", rows);

    gqbench::GapMeter gaps;
    QElapsedTimer clock;
    if (mode == "text") {
        const QString path = home.path() + "/results.txt";
        prompts.savePaths.push_back(path);
        gaps.start();
        clock.start();
        form.findChild<QPushButton*>("PushButton4")->click();
        const double seconds = clock.nsecsElapsed() / 1e9;
        gaps.stop();
        std::printf("text_file_s=%.3f\ntext_file_mb=%.1f\n", seconds, QFile(path).size() / 1e6);
    } else if (mode == "clipboard") {
        gaps.start();
        clock.start();
        auto text =
            gq::ClipboardText(gq::ResultsListTable(*form.results()), [&] { form.yieldToEvents(); });
        const double built = clock.nsecsElapsed() / 1e9;
        gaps.stop();
        std::printf("clipboard_text_s=%.3f\nclipboard_text_mb=%.1f\n", built,
                    text ? text->size() / 1e6 : 0.0);
        text.reset();
        QElapsedTimer press;
        press.start();
        form.findChild<QPushButton*>("PushButton8")->click();
        std::printf("clipboard_button_s=%.3f\n", press.nsecsElapsed() / 1e9);
    } else {
        qint64 pid = 0;
        QString socket;
        gq::ObserveHandOvers([&](qint64 id, const QString& name) {
            pid = id;
            socket = name;
        });
        gaps.start();
        clock.start();
        form.findChild<QPushButton*>("PushButton13")->click();
        const double handed = clock.nsecsElapsed() / 1e9;
        gaps.stop();
        if (socket.isEmpty())
            return 1;
        gq::channel::Client client(socket);
        if (!client.connect(10000))
            return 1;
        client.request("wait", {}, 600000);
        std::printf(
            "workbook_handed_over_s=%.3f\nworkbook_shown_s=%.3f\nsheet_window_peak_mb=%.1f\n",
            handed, clock.nsecsElapsed() / 1e9, PeakKilobytesOf(pid) / 1024.0);
        EndWindow(pid, socket);
    }
    std::printf("longest_event_gap_ms=%.1f\n", gaps.longest());
    for (const auto& record : prompts.records)
        if (record.kind == gq::ScriptedPrompts::Kind::Message &&
            record.message.title == QLatin1String("Application Error"))
            std::printf("report=%s\n", qPrintable(record.message.text.left(200)));
    return 0;
}
