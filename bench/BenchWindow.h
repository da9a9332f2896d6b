#pragma once

// What the window benchmarks share: settings kept out of the user's store, the window itself, and
// a meter of how long the event loop was kept from running.

#include "Form1.h"
#include "ScriptedPrompts.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace gqbench {

// Call before the QApplication exists: the run then reads and writes settings only under `home`
// and draws offscreen unless a platform was asked for.
inline void UseBenchEnvironment(const QTemporaryDir& home) {
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The main window, started and shown, answering through `prompts`, with `home` as its program
// folder and settings folder; null when start-up ends the program.
inline std::unique_ptr<gq::Form1> StartWindow(gq::ScriptedPrompts& prompts,
                                              const QTemporaryDir& home) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    gq::Form1Setup setup;
    setup.prompts = &prompts;
    setup.programFolder = home.path();
    auto form = std::make_unique<gq::Form1>(std::move(setup));
    if (!form->formLoad())
        return nullptr;
    form->show();
    return form;
}

// Fires every millisecond while the loop lets it: the gaps between firings are how long a key
// press or a repaint would have waited.
class GapMeter {
public:
    GapMeter() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (clock_.isValid())
                gaps_.push_back(clock_.nsecsElapsed() / 1e6);
            clock_.restart();
        });
    }
    void start() {
        clock_.invalidate();
        gaps_.clear();
        timer_.start(1);
    }
    void stop() { timer_.stop(); }
    long passes() const { return static_cast<long>(gaps_.size()); }
    double longest() const {
        return gaps_.empty() ? 0 : *std::max_element(gaps_.begin(), gaps_.end());
    }
    double percentile(double p) const {
        if (gaps_.empty())
            return 0;
        std::vector<double> sorted = gaps_;
        std::sort(sorted.begin(), sorted.end());
        return sorted[static_cast<std::size_t>(p * (sorted.size() - 1))];
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    std::vector<double> gaps_;
};

} // namespace gqbench
