#include "ProgressLine.h"

#include <cstdio>

namespace gq::cli {

namespace {

constexpr auto kQuiet = std::chrono::seconds(1);
// Often enough to follow the files, seldom enough not to flicker between result lines.
constexpr auto kRedraw = std::chrono::milliseconds(200);

} // namespace

ProgressLine::ProgressLine(bool enabled) : enabled_(enabled) {
    if (enabled_)
        drawer_ = std::thread([this] { drawWhileRunning(); });
}

ProgressLine::~ProgressLine() {
    if (!enabled_)
        return;
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        clearLocked();
    }
    wake_.notify_one();
    drawer_.join();
}

void ProgressLine::startFile(std::size_t index, std::size_t count) {
    if (!enabled_)
        return;
    std::lock_guard lock(mutex_);
    text_ = "file " + std::to_string(index) + " of " + std::to_string(count);
    changed_ = true;
}

void ProgressLine::withoutLine(const std::function<void()>& write) {
    if (!enabled_) {
        write();
        return;
    }
    std::lock_guard lock(mutex_);
    clearLocked();
    write();
}

void ProgressLine::drawWhileRunning() {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, kQuiet, [this] { return ending_; }))
        return;
    while (!wake_.wait_for(lock, kRedraw, [this] { return ending_; })) {
        if (text_.empty() || (shown_ && !changed_))
            continue;
        std::fprintf(stderr, "\r\33[K%s", text_.c_str());
        std::fflush(stderr);
        shown_ = true;
        changed_ = false;
    }
}

void ProgressLine::clearLocked() {
    if (!shown_)
        return;
    std::fputs("\r\33[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

} // namespace gq::cli
