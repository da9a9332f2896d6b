#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace gq::cli {

// "file k of n" on stderr, redrawn in place once a search has run longer than a second, and only
// when stderr is a terminal: never in a pipe or a log file. A thread of its own draws it, so it
// shows while a file is still being opened or a slow disk keeps the search waiting.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    ~ProgressLine(); // removes the line

    void startFile(std::size_t index, std::size_t count); // index from 1
    // Runs `write` with the line removed, so that what it writes to the terminal starts on a
    // clean line; the line comes back at the next redraw.
    void withoutLine(const std::function<void()>& write);

private:
    void drawWhileRunning();
    void clearLocked();

    bool enabled_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    std::string text_;
    bool shown_ = false;
    bool changed_ = false;
    std::thread drawer_;
};

} // namespace gq::cli
