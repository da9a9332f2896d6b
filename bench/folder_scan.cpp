// folder-scan-driver: "Add All Excel File(s) In Folder" driven programmatically (offscreen unless
// told otherwise), for bench/folder-scan. Prints key=value lines.
//
//   folder-scan-driver [--extension EXT] [--shot PNG] [--hold MS] FOLDER
//       one scan of FOLDER with the extension answer EXT (default "xl*"): its seconds, the
//       entries it added, the longest wait an input event would have had, and how often the
//       file list painted while the scan ran
// --shot PNG saves a picture of the window after the scan; --hold MS keeps it on screen.
#include "BenchWindow.h"
#include "FileList.h"
#include "Form1.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    QString extension = QStringLiteral("xl*");
    std::string shot;
    int holdMs = 0;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--extension" && i + 1 < argc)
            extension = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--shot" && i + 1 < argc)
            shot = argv[++i];
        else if (arg == "--hold" && i + 1 < argc)
            holdMs = std::atoi(argv[++i]);
        else
            positional.push_back(arg);
    }
    if (positional.size() != 1) {
        std::fputs("usage: folder-scan-driver [--extension EXT] [--shot PNG] [--hold MS] FOLDER\n",
                   stderr);
        return 2;
    }
    // The run must not read or write the user's settings.
    QTemporaryDir settings;
    gqbench::UseBenchEnvironment(settings);
    QApplication application(argc, argv);

    gq::ScriptedPrompts prompts;
    prompts.inputs = {extension};
    prompts.folders = {QString::fromLocal8Bit(positional.front().c_str())};
    std::unique_ptr<gq::Form1> window = gqbench::StartWindow(prompts, settings);
    if (!window)
        return 1;
    gq::Form1& form = *window;
    QApplication::processEvents();

    gqbench::GapMeter gaps;
    PaintCounter painted;
    form.fileList()->viewport()->installEventFilter(&painted);
    gaps.start();
    QElapsedTimer clock;
    clock.start();
    form.findChild<QPushButton*>("PushButton6")->click();
    double seconds = clock.nsecsElapsed() / 1e9;
    gaps.stop();

    std::printf("seconds=%.3f\nentries=%d\nlongest_event_gap_ms=%.1f\nlist_paints=%d\n", seconds,
                form.fileList()->entryCount(), gaps.longest(), painted.paints);
    for (const auto& record : prompts.records)
        if (record.kind == gq::ScriptedPrompts::Kind::Message)
            std::printf("message=%s\n", qPrintable(record.message.text.left(200)));
    if (!shot.empty()) {
        QApplication::processEvents();
        form.grab().save(QString::fromStdString(shot));
    }
    if (holdMs > 0) {
        // Kept on screen for a while, so that a screenshot can be taken of the real window.
        QTimer::singleShot(holdMs, &application, &QApplication::quit);
        QApplication::exec();
    }
    return 0;
}
