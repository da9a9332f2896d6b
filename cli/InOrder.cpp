#include "InOrder.h"

#include <cstdio>

namespace gq::cli {

namespace {

std::size_t BytesOf(const ResultRow& row) {
    return row.file.size() + row.sheet.size() + row.location.size() + row.cellText.size() +
           row.row.size() + row.col.size();
}

} // namespace

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

void InOrder::row(std::size_t index, const ResultRow& row) {
    std::unique_lock lock(mutex_);
    ++rows_;
    // The file whose turn it is prints its rows as they come, without keeping them.
    if (index == head_)
        printer_.row(row);
    else
        add(index, {Event::Kind::Row, row, {}, {}, 0}, lock);
}

void InOrder::failure(std::size_t index, const std::string& path, const std::string& reason) {
    std::unique_lock lock(mutex_);
    failed_ = true;
    add(index, {Event::Kind::Failure, {}, path, reason, 0}, lock);
}

void InOrder::done(std::size_t index, const std::string& path, std::size_t rows,
                   const SearchCounts* counts) {
    std::unique_lock lock(mutex_);
    if (counts) {
        ++searchedFiles_;
        counts_.sheets += counts->sheets;
        counts_.cells += counts->cells;
        add(index, {Event::Kind::Done, {}, path, {}, rows}, lock);
    }
    pending_[index].finished = true;
    if (index == head_)
        advance();
}

void InOrder::failureNow(const std::string& path, const std::string& reason) {
    std::unique_lock lock(mutex_);
    failed_ = true;
    print({Event::Kind::Failure, {}, path, reason, 0});
}

void InOrder::add(std::size_t index, Event event, std::unique_lock<std::mutex>& lock) {
    if (index == head_) {
        print(event);
        return;
    }
    Pending& pending = pending_[index];
    pending.bytes += sizeof event + BytesOf(event.row) + event.path.size() + event.reason.size();
    pending.events.push_back(std::move(event));
    if (pending.bytes < kMaxHeldBytes)
        return;
    // Held long enough: the worker waits for its turn, when advance() has printed what it held.
    turn_.wait(lock, [&] { return index == head_; });
}

void InOrder::print(const Event& event) {
    switch (event.kind) {
    case Event::Kind::Row:
        printer_.row(event.row);
        break;
    case Event::Kind::Failure:
        progress_.withoutLine([&] {
            printer_.flush();
            std::fprintf(stderr, "gridquest-find: %s: %s\n", event.path.c_str(),
                         event.reason.c_str());
        });
        break;
    case Event::Kind::Done:
        printer_.fileDone(event.path, event.count, countsNamed_);
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
