// Closing the window during a run ends the program at once, whatever the run is doing. Closing
// ends the process, so each case runs the window in a child process (this program again) and
// times it from outside.
#include "AppTestSupport.h"

#include "Controls.h"
#include "TestFiles.h"

#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <thread>

#include <time.h>

namespace {

constexpr const char* kChildFiles = "GQ_CLOSE_CHILD_FILES";
constexpr const char* kChildProgress = "GQ_CLOSE_CHILD_PROGRESS";
constexpr const char* kChildDelay = "GQ_CLOSE_CHILD_DELAY_MS";
constexpr const char* kChildFaster = "GQ_CLOSE_CHILD_FASTER";

// Generous beside the 100 ms a user would call "at once", so a loaded machine does not fail it.
constexpr double kAtOnceMs = 250;

qint64 MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void Say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// The child: runs a search over the given files and, once the progress bar shows the given
// text, asks the window to close from another thread, as a window manager's request waits in
// the queue for the window's thread. Prints every prompt it is shown.
int RunChild(int argc, char** argv) {
    QApplication application(argc, argv);
    gqapptest::Window window;
    window.prompts.whileOpen = [](const gq::ScriptedPrompts::Record& record) {
        Say("prompt " + record.message.text);
    };
    if (!window.load())
        return 2;
    window.form->show();
    window.form->findChild<QLineEdit*>("Text1")->setText("tea");
    if (qEnvironmentVariableIsSet(kChildFaster))
        window.option(5)->click();
    window.addFiles(qEnvironmentVariable(kChildFiles).split('\n'));
    const QString progress = qEnvironmentVariable(kChildProgress);
    const int delayMs = qEnvironmentVariableIntValue(kChildDelay);
    std::thread closer;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (closer.joinable() || !window.form->progressBar()->text().startsWith(progress))
            return;
        closer = std::thread([&window, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            Say(QStringLiteral("closing %1").arg(MonotonicNs()));
            QMetaObject::invokeMethod(window.form.get(), &QWidget::close, Qt::QueuedConnection);
        });
    });
    watch.start(0);
    window.button("PushButton7")->click();
    Say("run returned");
    if (closer.joinable())
        closer.join();
    return 3;
}

struct ChildRun {
    bool ended = false;
    int exitCode = -1;
    double closeMs = -1; // from the request to the end of the process; -1 without a request
    QString output;
};

// A workbook whose opening takes a while: two million distinct shared strings (some tens of
// milliseconds on a fast machine, so the request must come as soon as its turn shows).
void WriteSlowToOpenWorkbook(const std::string& path) {
    const std::string ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::string strings =
        R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)";
    for (int i = 0; i < 2000000; ++i)
        strings += "<si><t>text " + std::to_string(i) + "</t></si>";
    strings += "</sst>";
    gqtest::WriteZip(
        path,
        {{"[Content_Types].xml",
          R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)"},
         {"_rels/.rels",
          R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
          R"(<Relationship Id="rId1" Type=")" +
              ns + R"(/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
         {"xl/workbook.xml",
          R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
          R"(xmlns:r=")" +
              ns + R"("><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
         {"xl/_rels/workbook.xml.rels",
          R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
          R"(<Relationship Id="rId1" Type=")" +
              ns + R"(/worksheet" Target="sheet.xml"/><Relationship Id="rId2" Type=")" + ns +
              R"(/sharedStrings" Target="strings.xml"/></Relationships>)"},
         {"xl/sheet.xml",
          R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
          R"(<sheetData><row r="1"><c r="A1" t="s"><v>0</v></c></row></sheetData></worksheet>)"},
         {"xl/strings.xml", strings}});
}

// Empty when the child ended at once after the request, with status 0, showing no message and
// without unwinding its run; else what went otherwise.
QString HowItEnded(const ChildRun& run) {
    qInfo("ended %.1f ms after the request", run.closeMs);
    if (!run.ended || run.closeMs < 0)
        return "no request, or no end: " + run.output;
    if (run.exitCode != 0)
        return QStringLiteral("ended with status %1: %2").arg(run.exitCode).arg(run.output);
    if (run.closeMs >= kAtOnceMs)
        return QStringLiteral("ended %1 ms after the request").arg(run.closeMs);
    if (run.output.contains("prompt") || run.output.contains("run returned"))
        return "a message, or an unwound run: " + run.output;
    return {};
}

} // namespace

class CloseTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void closingWhileAWorkbookOpensEndsAtOnce();
    void closingDuringATextScanLeavesNoExportBehind();

private:
    ChildRun runChild(const QStringList& files, const QString& progress, int delayMs, bool faster);
    QString book(const char* name) const { return QString::fromStdString(dir_->path(name)); }

    std::unique_ptr<gqtest::TempDir> dir_;
    std::unique_ptr<gqtest::TempDir> child_; // the child's settings and temporary files
};

void CloseTest::initTestCase() {
    dir_ = std::make_unique<gqtest::TempDir>();
    gqtest::WriteXlsx(dir_->path("small.xlsx"), [](lxw_workbook* workbook) {
        worksheet_write_string(workbook_add_worksheet(workbook, "S"), 0, 0, "tea", nullptr);
    });
    gqtest::WriteXlsx(dir_->path("long.xlsx"), [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
        for (int row = 0; row < 20000; ++row)
            worksheet_write_string(sheet, row, 0, "more tea", nullptr);
    });
    WriteSlowToOpenWorkbook(dir_->path("slow.xlsx"));
}

ChildRun CloseTest::runChild(const QStringList& files, const QString& progress, int delayMs,
                             bool faster) {
    child_ = std::make_unique<gqtest::TempDir>();
    const QString home = QString::fromStdString(child_->path(""));
    QDir().mkpath(home + "/config");
    QDir().mkpath(home + "/tmp");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("XDG_RUNTIME_DIR", home);
    environment.insert("TMPDIR", home + "/tmp");
    environment.insert(kChildFiles, files.join('\n'));
    environment.insert(kChildProgress, progress);
    environment.insert(kChildDelay, QString::number(delayMs));
    if (faster)
        environment.insert(kChildFaster, "1");
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    ChildRun run;
    if (!child.waitForStarted())
        return run;
    qint64 requested = 0;
    while (requested == 0 && (child.canReadLine() || child.state() != QProcess::NotRunning)) {
        if (!child.canReadLine())
            child.waitForReadyRead(100);
        while (requested == 0 && child.canReadLine()) {
            const QString line = QString::fromUtf8(child.readLine()).trimmed();
            run.output += line + '\n';
            if (line.startsWith("closing "))
                requested = line.mid(8).toLongLong();
        }
    }
    run.ended = child.waitForFinished(60000);
    const qint64 ended = MonotonicNs();
    run.output += QString::fromUtf8(child.readAll());
    run.exitCode = child.exitCode();
    if (requested != 0)
        run.closeMs = double(ended - requested) / 1e6;
    return run;
}

void CloseTest::closingWhileAWorkbookOpensEndsAtOnce() {
    // The request comes while the large workbook is being opened, which the window's own thread
    // once did in one piece, taking the close only when it was done.
    // The slow one comes first: a later one would be opened ahead while the first is searched.
    ChildRun run =
        runChild({book("slow.xlsx"), book("small.xlsx")}, "Processing: slow.xlsx", 0, false);
    const QString failure = HowItEnded(run);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // What was written before the end is on disk: every write is synced at once.
    QFile settings(QString::fromStdString(child_->path("config/Norvane.ini")));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY(settings.readAll().contains("Text1=tea"));
}

void CloseTest::closingDuringATextScanLeavesNoExportBehind() {
    ChildRun run = runChild({book("long.xlsx")}, "Processing: row 500 in", 0, true);
    const QString failure = HowItEnded(run);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QStringList left = QDir(QString::fromStdString(child_->path("tmp")))
                                 .entryList(QDir::Files | QDir::Hidden | QDir::System);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildFiles))
        return RunChild(argc, argv);
    gqapptest::IsolateUserFolders();
    QApplication application(argc, argv);
    CloseTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "close_test.moc"
