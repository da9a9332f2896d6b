#include "InOrder.h"

#include <cstdio>

namespace gq::cli {

InOrder::InOrder(std::size_t files, std::size_t window, Printer& printer, ProgressLine& progress,
                 bool countsNamed)
    : pending_(files), window_(window), printer_(printer), progress_(progress),
      countsNamed_(countsNamed) {
    if (files > 0)
        progress_.startFile(1, files);
}

void InOrder::waitForStart(std::size_t index) {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [&] { return index < head_ + window_; });
}

void InOrder::rows(std::size_t index, std::string_view bytes, std::size_t count) {
    std::unique_lock lock(mutex_);
    rows_ += count;
    if (bytes.empty())
        return;
    // The file whose turn it is prints its rows as they come, without keeping them.
    if (index == head_)
        printer_.write(bytes);
    else
        add(index, {Event::Kind::Rows, std::string(bytes), {}, 0}, lock);
}

void InOrder::failure(std::size_t index, const std::string& path, const std::string& reason) {
    std::unique_lock lock(mutex_);
    failed_ = true;
    add(index, {Event::Kind::Failure, path, reason, 0}, lock);
}

void InOrder::done(std::size_t index, const std::string& path, std::size_t rows,
                   const SearchCounts* counts) {
    std::unique_lock lock(mutex_);
    if (counts) {
        ++searchedFiles_;
        counts_.sheets += counts->sheets;
        counts_.cells += counts->cells;
        add(index, {Event::Kind::Done, path, {}, rows}, lock);
    }
    pending_[index].finished = true;
    if (index == head_)
        advance();
}

void InOrder::failureNow(const std::string& path, const std::string& reason) {
    std::unique_lock lock(mutex_);
    failed_ = true;
    print({Event::Kind::Failure, path, reason, 0});
}

void InOrder::add(std::size_t index, Event event, std::unique_lock<std::mutex>& lock) {
    if (index == head_) {
        print(event);
        return;
    }
    Pending& pending = pending_[index];
    pending.bytes += sizeof event + event.text.size() + event.reason.size();
    // Rows after rows join them: a file's rows are held as one run of bytes.
    if (event.kind == Event::Kind::Rows && !pending.events.empty() &&
        pending.events.back().kind == Event::Kind::Rows)
        pending.events.back().text += event.text;
    else
        pending.events.push_back(std::move(event));
    if (pending.bytes < kMaxHeldBytes)
        return;
    // Held long enough: the worker waits for its turn, when advance() has printed what it held.
    turn_.wait(lock, [&] { return index == head_; });
}

void InOrder::print(const Event& event) {
    switch (event.kind) {
    case Event::Kind::Rows:
        printer_.write(event.text);
        break;
    case Event::Kind::Failure:
        progress_.withoutLine([&] {
            printer_.flush();
            std::fprintf(stderr, "gridquest-find: %s: %s\n", event.text.c_str(),
                         event.reason.c_str());
        });
        break;
    case Event::Kind::Done:
        printer_.fileDone(event.text, event.count, countsNamed_);
        break;
    }
}

// The turn passes on over every file that has finished meanwhile, printing what each held, to
// the first still under way, whose worker prints on from there.
void InOrder::advance() {
    while (head_ < pending_.size() && pending_[head_].finished) {
        pending_[head_] = Pending();
        ++head_;
        if (head_ == pending_.size())
            break;
        progress_.startFile(head_ + 1, pending_.size());
        Pending& next = pending_[head_];
        for (const Event& event : next.events)
            print(event);
        next.events.clear();
        next.bytes = 0;
    }
    turn_.notify_all();
}

} // namespace gq::cli
