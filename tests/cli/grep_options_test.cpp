// The options that grep's users rely on, tried end to end on real workbooks.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>

extern char** environ;

namespace {

constexpr const char* kMatch = "\33[01;31m\33[K";
constexpr const char* kEnd = "\33[m\33[K";

std::string Highlighted(const std::string& text) {
    return kMatch + text + kEnd;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct TerminalRun {
    int exitCode = -1;
    std::string screen; // stdout and stderr as the terminal got them
};

// Runs gridquest-find with stdin, stdout and stderr on a pseudo-terminal of its own, as a user at
// a terminal would. `environment` replaces NO_COLOR and TERM; `watch` sees the screen after each
// read.
TerminalRun RunOnTerminal(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment,
                          const std::function<void(const std::string&)>& watch = {}) {
    std::vector<std::string> envText(environment);
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "NO_COLOR=", 9) != 0 && std::strncmp(*variable, "TERM=", 5))
            envText.push_back(*variable);
    std::vector<char*> env, argv{const_cast<char*>(GQ_FIND_PROGRAM)};
    for (auto& variable : envText)
        env.push_back(variable.data());
    env.push_back(nullptr);
    std::vector<std::string> argText(args);
    for (auto& arg : argText)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    TerminalRun run;
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child < 0)
        return run;
    if (child == 0) {
        execve(GQ_FIND_PROGRAM, argv.data(), env.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) // the terminal's far side is closed: the program has ended
            break;
        run.screen.append(buffer, static_cast<std::size_t>(got));
        if (watch)
            watch(run.screen);
    }
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    close(master);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class GrepOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        first_ = dir_.path("first.xlsx");
        gqtest::WriteXlsx(first_, [](lxw_workbook* workbook) {
            lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Sheet A");
            worksheet_write_string(sheet, 0, 0, "Bread", nullptr);
            worksheet_write_string(sheet, 1, 1, "tea and bread", nullptr);
            worksheet_write_string(sheet, 2, 2, "-42 units", nullptr);
        });
        none_ = dir_.path("none.xlsx");
        gqtest::WriteXlsx(none_, [](lxw_workbook* workbook) {
            worksheet_write_string(workbook_add_worksheet(workbook, "Empty"), 0, 0, "xyz", nullptr);
        });
        second_ = dir_.path("second.xlsx");
        gqtest::WriteXlsx(second_, [](lxw_workbook* workbook) {
            lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Other");
            worksheet_write_string(sheet, 0, 0, "Beans", nullptr);
        });
    }

    gqtest::ProgramRun find(const std::vector<std::string>& args) {
        return gqtest::RunProgram(GQ_FIND_PROGRAM, args);
    }

    gqtest::TempDir dir_;
    std::string first_, none_, second_;
};

TEST_F(GrepOptionsTest, HelpAndVersionGoToStdoutWithStatusZero) {
    for (const char* help : {"-h", "--help"}) {
        auto run = find({"ea", help, first_});
        EXPECT_EQ(run.exitCode, 0) << help;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.rfind("Usage: gridquest-find [OPTION]... TERM PATH...\n", 0), 0u);
        for (const char* option :
             {"-i, --ignore-case", "-s, --case-sensitive", "--match-case", "-f, --file=TERMFILE",
              "--no-locations", "--ext=PATTERN", "-l, --files-with-matches", "-c, --count",
              "--json", "--color[=WHEN]", "--stats", "-h, --help", "-V, --version", "--  ",
              "Exit status:"})
            EXPECT_NE(run.out.find(option), std::string::npos) << option;
    }
    for (const char* version : {"-V", "--version"}) {
        auto run = find({version});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "gridquest-find " GQ_VERSION "\n");
    }
}

TEST_F(GrepOptionsTest, UsageErrorsNameTheOptionAndExitTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus", "ea", first_}, "unrecognized option '--bogus'"},
        {{"-x", "ea", first_}, "invalid option -- 'x'"},
        {{"ea", first_, "-f"}, "option requires an argument -- 'f'"},
        {{"ea", first_, "--ext"}, "option '--ext' requires an argument"},
        {{"--json=yes", "ea", first_}, "option '--json' doesn't allow an argument"},
        {{"--c", "ea", first_}, "option '--c' is ambiguous"},
        {{"--color=sometimes", "ea", first_}, "invalid argument 'sometimes' for '--color'"},
        {{"-l", "--json", "ea", first_}, "-l and --json cannot be used together"},
        {{"-lc", "ea", first_}, "-l and -c cannot be used together"},
        {{"-42", first_}, "invalid option -- '4'"}, // a term like an option needs "--"
        {{}, "no TERM given"},
        {{"ea"}, "no PATH given"},
    };
    for (const auto& [args, message] : cases) {
        auto run = find(args);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_EQ(run.out, "") << message;
        EXPECT_EQ(run.err.rfind("gridquest-find: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Try 'gridquest-find --help' for more information.\n"),
                  std::string::npos)
            << run.err;
    }
}

TEST_F(GrepOptionsTest, DoubleDashEndsTheOptionsOnlyThere) {
    auto run = find({"--", "-42", first_});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, first_ + "\tSheet A\tC3\t-42 units\t3\t3\n");
    // Before it, options may follow the operands, as with grep.
    run = find({"units", first_, "-l"});
    EXPECT_EQ(run.out, first_ + "\n");
    // After it, "-l" is a path like any other.
    run = find({"--", "units", "-l"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "gridquest-find: -l: The file does not exist\n");
}

TEST_F(GrepOptionsTest, CaseIsIgnoredUnlessAskedAndTheLastChoiceHolds) {
    auto cells = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args(options);
        args.insert(args.end(), {"bread", first_});
        std::string found;
        for (const std::string& line : Lines(find(args).out))
            found += line.substr(first_.size() + 9, 2) + " ";
        return found;
    };
    EXPECT_EQ(cells({}), "A1 B2 ");
    EXPECT_EQ(cells({"-i"}), "A1 B2 ");
    EXPECT_EQ(cells({"-s"}), "B2 ");
    EXPECT_EQ(cells({"--match-case"}), "B2 ");
    EXPECT_EQ(cells({"--case-sensitive", "-i"}), "A1 B2 ");
    EXPECT_EQ(cells({"-is"}), "B2 ");
}

TEST_F(GrepOptionsTest, FilesWithMatchesNamesEachMatchingFileOnce) {
    auto run = find({"-l", "ea", first_, none_, second_});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, first_ + "\n" + second_ + "\n");
    run = find({"--files-with-matches", "ea", dir_.path("")});
    EXPECT_EQ(run.out, first_ + "\n" + second_ + "\n");
    run = find({"-l", "zzz", first_, second_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    // A file that fails is reported and the others are still listed.
    run = find({"-l", "ea", dir_.path("missing.xlsx"), second_});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, second_ + "\n");
}

TEST_F(GrepOptionsTest, CountGivesEverySearchedFileItsRows) {
    auto run = find({"-c", "ea", first_, none_, second_});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, first_ + ":2\n" + none_ + ":0\n" + second_ + ":1\n");
    run = find({"--count", "ea", dir_.path("")});
    EXPECT_EQ(run.out, first_ + ":2\n" + none_ + ":0\n" + second_ + ":1\n");
    // One file named alone: the number alone, as grep prints it.
    run = find({"-c", "ea", first_});
    EXPECT_EQ(run.out, "2\n");
    run = find({"-c", "zzz", first_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "0\n");
    // Every matching term is a row of its own.
    std::string terms = dir_.path("terms.txt");
    gqtest::WriteFile(terms, "bread\ntea\n");
    run = find({"-c", "-f", terms, first_, second_});
    EXPECT_EQ(run.out, first_ + ":3\n" + second_ + ":0\n");
    run = find({"-c", "ea", dir_.path("missing.xlsx"), second_});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, second_ + ":1\n");
    EXPECT_EQ(run.err,
              "gridquest-find: " + dir_.path("missing.xlsx") + ": The file does not exist\n");
}

TEST_F(GrepOptionsTest, JsonRowsParseBackWithEveryTextIntact) {
    // A file name holding bytes that are no UTF-8: a stray byte, an overlong form, an encoded
    // surrogate and a code point past U+10FFFF, each written as U+FFFD. The name goes to the
    // program as bytes, which QProcess cannot pass, so the run is on a terminal.
    const std::string texts[] = {"say \"ea\" \\ now", "tab\tea\nline", std::string("\x01\x1f ea"),
                                 "Grüße ✓ ea"};
    std::string book = dir_.path("q\"\xFF\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80.xlsx");
    gqtest::WriteXlsx(book, [&](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Sheet \"1\"");
        for (int row = 0; row < 4; ++row)
            worksheet_write_string(sheet, static_cast<lxw_row_t>(row), 1, texts[row].c_str(),
                                   nullptr);
    });
    struct RemovedAtEnd { // the temporary folder cannot name it to remove it
        std::string path;
        ~RemovedAtEnd() { unlink(path.c_str()); }
    } removed{book};
    const QString fffd(QChar(0xFFFD));
    QString expectedFile = QString::fromStdString(dir_.path("q\"")) + fffd.repeated(10) + ".xlsx";

    auto run = RunOnTerminal({"--json", "ea", book}, {"TERM=dumb"});
    ASSERT_EQ(run.exitCode, 0) << run.screen;
    auto lines = Lines(run.screen);
    ASSERT_EQ(lines.size(), 4u) << run.screen;
    for (int row = 0; row < 4; ++row) {
        std::string line = lines[static_cast<std::size_t>(row)];
        line.pop_back(); // the terminal's CR
        for (unsigned char byte : line)
            ASSERT_GE(byte, 0x20) << line; // control characters only as escapes
        QJsonParseError error;
        QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        QJsonObject object = document.object();
        EXPECT_EQ(object.keys(), QStringList({"col", "file", "location", "row", "sheet", "text"}));
        EXPECT_EQ(object["file"].toString(), expectedFile);
        EXPECT_EQ(object["sheet"].toString(), "Sheet \"1\"");
        EXPECT_EQ(object["location"].toString(), QString("B%1").arg(row + 1));
        EXPECT_EQ(object["text"].toString(), QString::fromStdString(texts[row]));
        EXPECT_EQ(object["row"].toInt(), row + 1);
        EXPECT_EQ(object["col"].toInt(), 2);
    }
    // Without locations a row has no location, row or column.
    run = RunOnTerminal({"--json", "--no-locations", "Grüße", book}, {"TERM=dumb"});
    lines = Lines(run.screen);
    ASSERT_EQ(lines.size(), 1u) << run.screen;
    QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(lines[0])).object();
    EXPECT_TRUE(object["location"].isNull());
    EXPECT_TRUE(object["row"].isNull());
    EXPECT_TRUE(object["col"].isNull());
    EXPECT_EQ(object["text"].toString(), "\tGrüße ✓ ea");
}

TEST_F(GrepOptionsTest, ColorMarksMatchesAsGrepDoesOnlyWhenAsked) {
    const std::string file = "\33[35m\33[K" + first_ + kEnd;
    auto run = find({"--color=always", "ea", first_});
    EXPECT_EQ(run.out, file + "\tSheet A\t\33[32m\33[KA1" + kEnd + "\tBr" + Highlighted("ea") +
                           "d\t1\t1\n" + file + "\tSheet A\t\33[32m\33[KB2" + kEnd + "\tt" +
                           Highlighted("ea") + " and br" + Highlighted("ea") + "d\t2\t2\n");
    // Wildcards, case, a term that must match the whole text, and a term list: the cell texts.
    auto texts = [&](const std::vector<std::string>& args) {
        std::string found;
        for (const std::string& line : Lines(find(args).out)) {
            std::size_t text = line.find('\t', line.find('\t', line.find('\t') + 1) + 1) + 1;
            found += line.substr(text, line.find('\t', text) - text) + "|";
        }
        return found;
    };
    EXPECT_EQ(texts({"--color=always", "B?E", first_}),
              Highlighted("Bre") + "ad|tea and " + Highlighted("bre") + "ad|");
    EXPECT_EQ(texts({"--colour=always", "b[!x]e", first_}),
              Highlighted("Bre") + "ad|tea and " + Highlighted("bre") + "ad|");
    EXPECT_EQ(texts({"--color=always", "-s", "#", first_}), "-" + Highlighted("42") + " units|");
    EXPECT_EQ(texts({"--color=always", "*units", first_}), Highlighted("-42 units") + "|");
    std::string terms = dir_.path("terms.txt");
    gqtest::WriteFile(terms, "tea\nea and\n");
    EXPECT_EQ(texts({"--color=always", "-f", terms, first_}),
              Highlighted("tea and") + " bread|" + Highlighted("tea and") + " bread|");
    // Not asked, or asked for "auto" into a pipe: plain text.
    for (const char* option : {"--color=never", "--color=auto", "--color", "-i"})
        EXPECT_EQ(find({option, "ea", first_}).out.find('\33'), std::string::npos) << option;
}

TEST_F(GrepOptionsTest, AutoColorOnATerminalUnlessNoColorOrADumbTerminal) {
    auto run = RunOnTerminal({"--color=auto", "ea", first_}, {"TERM=xterm"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.screen.find("Br" + Highlighted("ea") + "d"), std::string::npos) << run.screen;
    run = RunOnTerminal({"--color=auto", "ea", first_}, {"TERM=xterm", "NO_COLOR=1"});
    EXPECT_NE(run.screen.find("Bread"), std::string::npos);
    EXPECT_EQ(run.screen.find('\33'), std::string::npos) << run.screen;
    run = RunOnTerminal({"--color=auto", "ea", first_}, {"TERM=dumb"});
    EXPECT_EQ(run.screen.find('\33'), std::string::npos) << run.screen;
    // Asked for outright, colour overrides NO_COLOR; never asked, a terminal gets none.
    run = RunOnTerminal({"--color=always", "ea", first_}, {"TERM=xterm", "NO_COLOR=1"});
    EXPECT_NE(run.screen.find(Highlighted("ea")), std::string::npos);
    run = RunOnTerminal({"ea", first_}, {"TERM=xterm"});
    EXPECT_EQ(run.screen.find('\33'), std::string::npos) << run.screen;
}

// A search kept waiting on a file that has no writer yet runs as long as the test wants.
class SlowFile {
public:
    explicit SlowFile(const std::string& path) : path_(path) { mkfifo(path.c_str(), 0600); }
    // Lets the search go on: the file ends at once.
    void release() {
        if (released_)
            return;
        released_ = true;
        int fd = open(path_.c_str(), O_WRONLY);
        if (fd >= 0)
            close(fd);
    }
    ~SlowFile() { release(); }

private:
    std::string path_;
    bool released_ = false;
};

TEST_F(GrepOptionsTest, ProgressLineOnlyOnATerminalAndOnlyAfterASecond) {
    SlowFile slow(dir_.path("slow.csv"));
    auto run = RunOnTerminal({"ea", first_, dir_.path("slow.csv")}, {"TERM=xterm"},
                             [&](const std::string& screen) {
                                 if (screen.find("file 2 of 2") != std::string::npos)
                                     slow.release();
                             });
    std::size_t shown = run.screen.find("\r\33[Kfile 2 of 2");
    ASSERT_NE(shown, std::string::npos) << run.screen;
    // The rows came first, and the line is gone at the end.
    EXPECT_LT(run.screen.find("tea and bread"), shown);
    EXPECT_NE(run.screen.find("\r\33[K", shown + 5), std::string::npos) << run.screen;
    EXPECT_EQ(run.screen.find("file 1 of 2"), std::string::npos) << "the first file was quick";

    // Into a pipe, never, however long it takes.
    SlowFile piped(dir_.path("piped.csv"));
    QProcess process;
    process.start(GQ_FIND_PROGRAM, {"ea", QString::fromStdString(dir_.path("piped.csv"))});
    ASSERT_TRUE(process.waitForStarted());
    QThread::msleep(1500);
    piped.release();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.readAllStandardError().indexOf("file 1 of 1"), -1);
}

} // namespace
