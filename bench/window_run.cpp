// window-run-driver: the main window driven programmatically (offscreen unless told otherwise),
// for bench/window-run. Prints key=value lines.
//
//   window-run-driver run [--no-locations] [--terms FILE] [--shot PNG] TERM FILE...
//       one search run: its seconds, rows, the longest wait an input event would have had, and
//       how often the window painted
//   window-run-driver stop [--no-locations] [--after MS] TERM FILE...
//       a stop press at MS into the run: how late the press was acted on, and how long the run
//       took to wind down
//   window-run-driver scroll TERM FILE...
//       a run (meant to give a million rows), then the results list scrolled to twenty places,
//       each painted at once: the longest of those steps
// --shot PNG saves a picture of the window after the run; --hold MS keeps it on screen.
#include "BenchWindow.h"
#include "Controls.h"
#include "Form1.h"
#include "ResultsModel.h"
#include "ScriptedPrompts.h"
#include "TermListFile.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Arguments {
    std::string mode;
    bool noLocations = false;
    std::string termsFile;
    std::string shot;
    int afterMs = 300;
    int holdMs = 0;
    std::string term;
    std::vector<std::string> files;
};

bool Parse(int argc, char** argv, Arguments& arguments) {
    if (argc < 2)
        return false;
    arguments.mode = argv[1];
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--no-locations")
            arguments.noLocations = true;
        else if (arg == "--terms" && i + 1 < argc)
            arguments.termsFile = argv[++i];
        else if (arg == "--shot" && i + 1 < argc)
            arguments.shot = argv[++i];
        else if (arg == "--hold" && i + 1 < argc)
            arguments.holdMs = std::atoi(argv[++i]);
        else if (arg == "--after" && i + 1 < argc)
            arguments.afterMs = std::atoi(argv[++i]);
        else
            positional.push_back(arg);
    }
    if (positional.size() < 2)
        return false;
    arguments.term = positional.front();
    arguments.files.assign(positional.begin() + 1, positional.end());
    return arguments.mode == "run" || arguments.mode == "stop" || arguments.mode == "scroll";
}

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

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!Parse(argc, argv, arguments)) {
        std::fputs("usage: window-run-driver run|stop|scroll [--no-locations] [--terms FILE] "
                   "[--after MS] [--shot PNG] [--hold MS] TERM FILE...\n",
                   stderr);
        return 2;
    }
    // The run must not read or write the user's settings.
    QTemporaryDir settings;
    gqbench::UseBenchEnvironment(settings);
    QApplication application(argc, argv);

    gq::ScriptedPrompts prompts;
    std::unique_ptr<gq::Form1> window = gqbench::StartWindow(prompts, settings);
    if (!window)
        return 1;
    gq::Form1& form = *window;
    QApplication::processEvents();

    form.findChild<QLineEdit*>("Text1")->setText(QString::fromStdString(arguments.term));
    if (!arguments.termsFile.empty()) {
        auto* combo = form.findChild<QComboBox*>("Combo1");
        for (const std::string& term : gq::ReadTermListFile(arguments.termsFile))
            combo->addItem(QString::fromStdString(term));
        form.findChild<QRadioButton*>("Option4")->click();
    }
    if (arguments.noLocations)
        form.findChild<QRadioButton*>("Option5")->click();
    for (const std::string& file : arguments.files)
        new QTreeWidgetItem(form.fileList(), QStringList{QString::fromStdString(file)});
    QPushButton* startStop = form.findChild<QPushButton*>("PushButton7");

    gqbench::GapMeter gaps;
    PaintCounter painted;
    form.progressBar()->installEventFilter(&painted);
    double stopLateMs = -1, windDownMs = -1;
    QElapsedTimer clock;
    if (arguments.mode == "stop") {
        QTimer::singleShot(arguments.afterMs, [&] {
            double late = clock.nsecsElapsed() / 1e6 - arguments.afterMs;
            startStop->click();
            if (startStop->text() == QLatin1String(gq::kStartCaption))
                stopLateMs = late;
            clock.restart();
        });
    }
    gaps.start();
    clock.start();
    startStop->click();
    double seconds = clock.nsecsElapsed() / 1e9;
    if (arguments.mode == "stop")
        windDownMs = clock.nsecsElapsed() / 1e6;
    gaps.stop();
    gq::ResultsModel* results = form.results();

    std::printf("rows=%zu\n", results->totalCount());
    if (arguments.mode == "stop") {
        std::printf("stop_late_ms=%.1f\nwind_down_ms=%.1f\n", stopLateMs, windDownMs);
    } else {
        std::printf("seconds=%.3f\n", seconds);
    }
    std::printf("longest_event_gap_ms=%.1f\nevent_gap_p99_ms=%.1f\npaints_per_second=%.1f\n",
                gaps.longest(), gaps.percentile(0.99),
                seconds > 0 && arguments.mode != "stop" ? painted.paints / seconds : 0.0);
    for (const auto& record : prompts.records)
        if (record.message.text != QLatin1String("Done."))
            std::printf("message=%s\n", qPrintable(record.message.text.left(200)));

    if (arguments.mode == "scroll") {
        QTableView* view = form.resultsView();
        QScrollBar* bar = view->verticalScrollBar();
        double longest = 0;
        for (int step = 0; step <= 20; ++step) {
            QElapsedTimer one;
            one.start();
            bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * step / 20));
            view->viewport()->repaint();
            QApplication::processEvents();
            longest = std::max(longest, one.nsecsElapsed() / 1e6);
        }
        QElapsedTimer clear;
        clear.start();
        form.findChild<QPushButton*>("PushButton2")->click();
        std::printf("scroll_step_longest_ms=%.1f\nclear_ms=%.1f\n", longest,
                    clear.nsecsElapsed() / 1e6);
    }
    std::printf("peak_mb=%.1f\n", PeakKilobytes() / 1024.0);
    if (!arguments.shot.empty()) {
        QApplication::processEvents();
        form.grab().save(QString::fromStdString(arguments.shot));
    }
    if (arguments.holdMs > 0) {
        // Kept on screen for a while, so that a screenshot can be taken of the real window.
        QTimer::singleShot(arguments.holdMs, &application, &QApplication::quit);
        QApplication::exec();
    }
    return 0;
}
