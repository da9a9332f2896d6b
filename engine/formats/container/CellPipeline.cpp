#include "CellPipeline.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace gq {

namespace {

#if defined(__x86_64__) || defined(__i386__)
// Not every x86 processor knows PREFETCHW (the baseline has no write prefetch): it is asked once.
const bool kWritePrefetch = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) && (ecx & bit_PRFCHW) != 0;
}();
void PrefetchForWrite(const void* at) {
    if (kWritePrefetch)
        asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(at)));
}
#else
void PrefetchForWrite(const void* at) {
    __builtin_prefetch(at, 1);
}
#endif

// On two CPUs the scheduler now and then wakes one side of the pipe onto the CPU where the other
// runs and leaves the two there for milliseconds, taking turns while the other CPU idles: up to
// two fifths of a large sheet's batches were handed over that way, and such a read took a quarter
// longer. The consumer, finding the producer on its own CPU, sends it to the other one. The
// producer gives that up for the rest of the read once it runs for less than half of the time
// (another program keeps that CPU busy): sharing one CPU with the consumer is then the better
// lot. The caller's thread is never moved.
class KeepApart {
public:
    KeepApart() {
        CPU_ZERO(&allowed_);
        active_ = pthread_getaffinity_np(pthread_self(), sizeof allowed_, &allowed_) == 0 &&
                  CPU_COUNT(&allowed_) == 2;
    }

    // Consumer side, once the producer runs.
    void watch(pthread_t producer) { producer_ = producer; }
    // Consumer side, at each batch it takes.
    void consumerAt(int cpu) {
        if (!active_ || cpu < 0 || cpu != producerCpu_.load(std::memory_order_relaxed) ||
            givenUp_.load(std::memory_order_relaxed))
            return;
        cpu_set_t others = allowed_;
        CPU_CLR(cpu, &others);
        if (CPU_COUNT(&others) > 0 &&
            pthread_setaffinity_np(producer_, sizeof others, &others) == 0)
            sent_.store(true, std::memory_order_relaxed);
    }
    // Producer side, at each batch it hands over.
    void producerAt(int cpu) {
        producerCpu_.store(cpu, std::memory_order_relaxed);
        if (!sent_.load(std::memory_order_relaxed) || givenUp_.load(std::memory_order_relaxed) ||
            ++batchesApart_ % kBatchesPerLook != 0)
            return;
        timespec ran{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ran);
        const auto now = std::chrono::steady_clock::now();
        const auto ranNow =
            std::chrono::seconds(ran.tv_sec) + std::chrono::nanoseconds(ran.tv_nsec);
        if (lookedAt_ && 2 * (ranNow - ranBefore_) < now - *lookedAt_) {
            givenUp_.store(true, std::memory_order_relaxed);
            pthread_setaffinity_np(pthread_self(), sizeof allowed_, &allowed_);
        }
        lookedAt_ = now;
        ranBefore_ = ranNow;
    }

private:
    static constexpr unsigned kBatchesPerLook = 16;

    cpu_set_t allowed_;
    bool active_ = false;
    pthread_t producer_{};
    std::atomic<int> producerCpu_ = -1;
    std::atomic<bool> sent_ = false;
    std::atomic<bool> givenUp_ = false;
    // The producer's own.
    unsigned batchesApart_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lookedAt_;
    std::chrono::nanoseconds ranBefore_{0};
};

// A shared string's view stays as it is (its text outlives the read); every other text is
// copied into `texts`, one after the other in the order of their cells, where the consumer finds
// them again by their sizes.
struct Batch {
    std::vector<Cell> cells;
    std::string texts;
};

class Pipe : public CellVisitor {
public:
    // A batch ends at whichever comes first, so the texts in flight stay a few megabytes
    // however long each cell's text is.
    static constexpr std::size_t kBatchCells = 4096;
    static constexpr std::size_t kBatchBytes = 1 << 20;
    // Two waiting batches keep both threads busy; each more is pages first touched (a batch of
    // cells is about 200 KB) for no gain.
    static constexpr std::size_t kBatchesInFlight = 2;
    static constexpr std::size_t kWriteAheadBytes = 1024;

    // Producer side.
    bool visit(const Cell& cell) override {
        // A number has no text: a call saved for half the cells of a sheet.
        if (cell.sharedString == kNotShared && !cell.text.empty())
            current_.texts.append(cell.text);
        // A batch's lines were last read on the consumer's core, and a store to one waits until
        // that core gives it up; the producer's next read of a cell handed to it (written field by
        // field, read in wider words) waits behind that store. Taking each line some cells ahead
        // of its write hides the wait, which was a sixth of the scan's processor time.
        const auto next =
            reinterpret_cast<std::uintptr_t>(current_.cells.data() + current_.cells.size());
        PrefetchForWrite(reinterpret_cast<const void*>(next + kWriteAheadBytes));
        current_.cells.push_back(cell);
        if (current_.cells.size() == kBatchCells || current_.texts.size() >= kBatchBytes)
            return publish();
        return !cancelled();
    }

    explicit Pipe(ByteStream* ahead) : ahead_(ahead) {}

    void finish(std::exception_ptr failure) {
        publish();
        std::lock_guard lock(mutex_);
        failure_ = failure;
        finished_ = true;
        changed_.notify_all();
    }

    // Consumer side: false once everything has been handed over. The batch taken before is
    // handed back to be filled again.
    bool take(Batch& batch) {
        batch.cells.clear();
        batch.texts.clear();
        std::unique_lock lock(mutex_);
        if (batch.cells.capacity() != 0)
            spare_.push_back(std::move(batch));
        waitFor(lock, [this] { return !queue_.empty() || finished_; });
        if (queue_.empty())
            return false;
        batch = std::move(queue_.front());
        queue_.pop_front();
        queued_.store(queue_.size(), std::memory_order_relaxed);
        // Under the lock, before finish(): a thread that has ended is no longer there to be
        // moved, and a move asked of it would move the caller.
        if (!finished_)
            apart_.consumerAt(sched_getcpu());
        changed_.notify_all();
        return true;
    }

    void watch(pthread_t producer) { apart_.watch(producer); }

    // Consumer side: whether no batch waits behind the one it has, which is when it has time to
    // spare. Without the lock: a stale answer costs a chunk inflated a little early or late.
    bool caughtUp() const { return queued_.load(std::memory_order_relaxed) == 0; }

    void cancel() {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        queue_.clear();
        queued_.store(0, std::memory_order_relaxed);
        changed_.notify_all();
    }

    std::exception_ptr failure() {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    // Read per cell by the producer: an atomic, not the mutex.
    bool cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

    bool publish() {
        std::unique_lock lock(mutex_);
        // Under the lock, as the consumer's move is: a give-up is never undone by a late move.
        apart_.producerAt(sched_getcpu());
        waitFor(lock, [this] { return queue_.size() < kBatchesInFlight || cancelled_; });
        if (cancelled_)
            return false;
        if (!current_.cells.empty())
            queue_.push_back(std::move(current_));
        queued_.store(queue_.size(), std::memory_order_relaxed);
        // A batch used before is filled again: a new one would first touch its pages again,
        // which costs more than the parse of their cells.
        if (!spare_.empty()) {
            current_ = std::move(spare_.back());
            spare_.pop_back();
        } else {
            current_ = Batch();
            current_.cells.reserve(kBatchCells);
        }
        changed_.notify_all();
        return true;
    }

    // Either side, while it would wait for the other, inflates the part ahead of the parse.
    template <typename Ready> void waitFor(std::unique_lock<std::mutex>& lock, Ready ready) {
        while (!ready()) {
            if (ahead_) {
                lock.unlock();
                const bool helped = ahead_->fillAhead();
                lock.lock();
                if (helped)
                    continue;
            }
            changed_.wait(lock, ready);
        }
    }

    ByteStream* ahead_;
    KeepApart apart_;
    Batch current_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> queue_;
    std::atomic<std::size_t> queued_ = 0; // queue_.size(), for the consumer's look without the lock
    std::vector<Batch> spare_;            // handed back by the consumer
    bool finished_ = false;
    std::atomic<bool> cancelled_ = false;
    std::exception_ptr failure_;
};

// Pushes straight through, remembering a stop so that what the producer meets after it is no
// concern of the caller, as with the pipe.
void ProduceDirectly(const std::function<void(CellVisitor& sink)>& produce, CellVisitor& visitor) {
    class Direct : public CellVisitor {
    public:
        explicit Direct(CellVisitor& inner) : inner_(inner) {}
        bool visit(const Cell& cell) override {
            if (!stopped)
                stopped = !inner_.visit(cell);
            return !stopped;
        }
        bool stopped = false;

    private:
        CellVisitor& inner_;
    } direct(visitor);
    try {
        produce(direct);
    } catch (...) {
        if (!direct.stopped)
            throw;
    }
}

} // namespace

namespace {
const unsigned kCores = std::thread::hardware_concurrency();
} // namespace

ReadAhead PipedReadAhead() {
    return kCores > 2 ? ReadAhead::OwnThread : ReadAhead::IdleThreads;
}

bool ReadAheadPays(const CellVisitor& visitor) {
    return !visitor.busy() || kCores > 2;
}

void PipeCells(const std::function<void(CellVisitor& sink)>& produce, CellVisitor& visitor,
               bool overlap, ByteStream* ahead) {
    // How often the consumer looks whether to inflate ahead: a sixteenth of a batch.
    constexpr std::size_t kCellsPerLook = Pipe::kBatchCells / 16;
    // How far ahead of its visit a shared string's text is fetched: time enough for a read from
    // memory at the few nanoseconds a cell takes.
    constexpr std::size_t kPrefetchCells = 64;
    if (!overlap)
        return ProduceDirectly(produce, visitor);
    Pipe pipe(ahead);
    std::thread producer([&] {
        std::exception_ptr failure;
        try {
            produce(pipe);
        } catch (...) {
            failure = std::current_exception();
        }
        pipe.finish(failure);
    });
    pipe.watch(producer.native_handle());
    std::exception_ptr consumerFailure;
    bool more = true;
    try {
        Batch batch;
        std::size_t sinceLook = 0;
        while (more && pipe.take(batch)) {
            const char* text = batch.texts.data();
            const std::size_t count = batch.cells.size();
            for (std::size_t index = 0; index < count; ++index) {
                Cell& cell = batch.cells[index];
                // A shared string's text lies anywhere in the table, seldom in the cache when a
                // visitor reads it (the text export reads every one): it is asked for some cells
                // ahead, its first and last bytes, as most span a line or two.
                if (const std::size_t later = index + kPrefetchCells;
                    later < count && batch.cells[later].sharedString != kNotShared) {
                    const std::string_view shared = batch.cells[later].text;
                    __builtin_prefetch(shared.data());
                    __builtin_prefetch(shared.data() + shared.size());
                }
                // A consumer that keeps up has time to spare between batches, but the producer
                // takes a chunk ahead of it in that time only as long as one is inflated: it then
                // inflates the next itself, or waits for the consumer's. So the consumer, while
                // no batch waits, inflates ahead now and then as it goes, not only when it waits.
                if (ahead && ++sinceLook == kCellsPerLook) {
                    sinceLook = 0;
                    if (pipe.caughtUp())
                        ahead->fillAhead();
                }
                if (cell.sharedString == kNotShared) {
                    cell.text = std::string_view(text, cell.text.size());
                    text += cell.text.size();
                }
                if (!visitor.visit(cell)) {
                    more = false;
                    break;
                }
            }
        }
    } catch (...) {
        consumerFailure = std::current_exception();
    }
    pipe.cancel();
    producer.join();
    if (consumerFailure)
        std::rethrow_exception(consumerFailure);
    // Once the visitor has stopped, what the producer met further on is no concern of the caller.
    if (auto failure = pipe.failure(); failure && more)
        std::rethrow_exception(failure);
}

} // namespace gq
