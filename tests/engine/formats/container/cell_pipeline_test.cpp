#include "CellPipeline.h"
#include "Error.h"
#include "TestFiles.h"
#include "ZipPackage.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace {

class Collector : public gq::CellVisitor {
public:
    explicit Collector(std::size_t stopAfter = SIZE_MAX) : stopAfter_(stopAfter) {}
    bool visit(const gq::Cell& cell) override {
        rows.push_back(cell.row);
        texts.emplace_back(cell.text);
        return rows.size() < stopAfter_;
    }
    std::vector<std::uint32_t> rows;
    std::vector<std::string> texts;

private:
    std::size_t stopAfter_;
};

void Produce(gq::CellVisitor& sink, std::uint32_t count, bool failAtEnd) {
    for (std::uint32_t row = 1; row <= count; ++row) {
        std::string text = "cell " + std::to_string(row);
        gq::Cell cell;
        cell.row = row;
        cell.kind = gq::CellKind::String;
        cell.text = text; // dies with this iteration: the pipe must have copied it
        if (!sink.visit(cell))
            return;
    }
    if (failAtEnd)
        throw gq::Error("damaged at the end");
}

TEST(CellPipeline, HandsOverEveryCellInOrderWithItsText) {
    Collector collector;
    gq::PipeCells([](gq::CellVisitor& sink) { Produce(sink, 10000, false); }, collector);
    ASSERT_EQ(collector.rows.size(), 10000u);
    for (std::uint32_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(collector.rows[i], i + 1);
        ASSERT_EQ(collector.texts[i], "cell " + std::to_string(i + 1));
    }
}

TEST(CellPipeline, ProducerErrorsArriveAfterTheirCellsUnlessTheVisitorStopped) {
    for (bool overlap : {true, false}) {
        Collector all;
        EXPECT_THROW(
            gq::PipeCells([](gq::CellVisitor& sink) { Produce(sink, 5000, true); }, all, overlap),
            gq::Error);
        EXPECT_EQ(all.rows.size(), 5000u);
        Collector early(3);
        EXPECT_NO_THROW(gq::PipeCells([](gq::CellVisitor& sink) { Produce(sink, 100000, true); },
                                      early, overlap));
        EXPECT_EQ(early.rows.size(), 3u);
    }
}

TEST(CellPipeline, LongTextsAreHeldAFewMegabytesAtATimeAndSharedOnesNotCopied) {
    const std::string shared(1 << 16, 's'); // stands for a reader's shared-string pool
    std::atomic<std::uint64_t> produced = 0;
    std::uint64_t consumed = 0, mostAhead = 0, sharedSeen = 0, wrong = 0;
    class Slow : public gq::CellVisitor {
    public:
        explicit Slow(const std::function<void(const gq::Cell&)>& f) : f_(f) {}
        bool visit(const gq::Cell& cell) override {
            f_(cell);
            return true;
        }

    private:
        std::function<void(const gq::Cell&)> f_;
    } visitor([&](const gq::Cell& cell) {
        mostAhead = std::max(mostAhead, produced.load() - consumed);
        if (cell.sharedString != gq::kNotShared) {
            sharedSeen += cell.text.data() == shared.data() && cell.text.size() == shared.size();
        } else {
            consumed += cell.text.size();
            wrong +=
                cell.text != std::string(cell.text.size(), static_cast<char>('a' + cell.row % 26));
        }
    });
    gq::PipeCells(
        [&](gq::CellVisitor& sink) {
            for (std::uint32_t row = 1; row <= 400; ++row) {
                std::string text(256 << 10, static_cast<char>('a' + row % 26));
                gq::Cell cell;
                cell.row = row;
                cell.kind = gq::CellKind::String;
                cell.text = text;
                produced += text.size();
                if (!sink.visit(cell))
                    return;
                cell.text = shared;
                cell.sharedString = 7;
                if (!sink.visit(cell))
                    return;
            }
        },
        visitor);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(sharedSeen, 400u);
    EXPECT_EQ(consumed, 400u * (256 << 10));
    // 100 MB went through; a handful of one-megabyte batches were ever ahead of the consumer.
    EXPECT_LE(mostAhead, 8u << 20);
}

// A large part read through the pipe, with its threads inflating ahead while they would wait for
// each other: every byte arrives in order, and a slow visitor and a fast one each leave a side
// waiting that reads ahead. A fast visitor, which keeps up with the producer, also reads ahead
// between the cells of a batch, not only between batches.
TEST(CellPipeline, ThreadsThatWouldWaitInflateThePartAheadOfItsReader) {
    gqtest::TempDir dir;
    const std::string path = dir.path("large.xlsx");
    gqtest::WriteXlsx(path, [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Data");
        for (lxw_row_t row = 0; row < 30000; ++row) {
            worksheet_write_number(sheet, row, 0, row * 1.25, nullptr);
            worksheet_write_string(sheet, row, 1, ("text " + std::to_string(row)).c_str(), nullptr);
        }
    });
    gq::ZipPackage package(path);
    const std::string part = "xl/worksheets/sheet1.xml";
    const std::string whole = package.read(part);
    ASSERT_GE(whole.size(), gq::ZipPackage::kReadAheadMinBytes);

    // Counts the pieces read ahead by the pipe's threads (not by the reader for itself), and the
    // calls the visitor's thread makes inside a batch: where the cells it has had are not a
    // whole number of batches (each of 64-byte cells is full).
    const std::thread::id caller = std::this_thread::get_id();
    std::size_t visited = 0;
    class CountingAhead : public gq::ByteStream {
    public:
        CountingAhead(gq::ByteStream& inner, std::thread::id caller, const std::size_t& visited)
            : inner_(inner), caller_(caller), visited_(visited) {}
        std::size_t read(char* buffer, std::size_t size) override {
            return inner_.read(buffer, size);
        }
        bool fillAhead() override {
            const bool filled = inner_.fillAhead();
            helped += filled;
            if (std::this_thread::get_id() == caller_ && visited_ % 4096 != 0)
                ++insideBatches;
            return filled;
        }
        std::atomic<int> helped = 0;
        int insideBatches = 0;

    private:
        gq::ByteStream& inner_;
        std::thread::id caller_;
        const std::size_t& visited_;
    };
    for (bool slowVisitor : {false, true}) {
        auto input = package.stream(part, gq::ReadAhead::IdleThreads);
        visited = 0;
        CountingAhead ahead(*input, caller, visited);
        std::string got;
        class Appending : public gq::CellVisitor {
        public:
            Appending(std::string& out, bool slow, std::size_t& visited)
                : out_(out), slow_(slow), visited_(visited) {}
            bool visit(const gq::Cell& cell) override {
                ++visited_;
                out_.append(cell.text);
                if (slow_ && out_.size() % 4096 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
                return true;
            }

        private:
            std::string& out_;
            bool slow_;
            std::size_t& visited_;
        } visitor(got, slowVisitor, visited);
        gq::PipeCells(
            [&](gq::CellVisitor& sink) {
                char piece[64];
                while (std::size_t size = input->read(piece, sizeof piece)) {
                    gq::Cell cell;
                    cell.kind = gq::CellKind::String;
                    cell.text = std::string_view(piece, size);
                    if (!sink.visit(cell))
                        return;
                }
            },
            visitor, true, &ahead);
        EXPECT_TRUE(got == whole) << "slow visitor " << slowVisitor;
        EXPECT_GT(ahead.helped, 0) << "slow visitor " << slowVisitor;
        if (!slowVisitor) {
            EXPECT_GT(ahead.insideBatches, 0);
        }
    }
}

// The pipe may send its producer to the other of two CPUs, but never moves the caller's thread nor
// runs anything outside the CPUs the caller may use.
TEST(CellPipeline, StaysOnTheCallersCpusAndLeavesTheCallerWhereItWas) {
    // CPUs 0 and 1, whatever an earlier test left this thread on.
    cpu_set_t two;
    CPU_ZERO(&two);
    CPU_SET(0, &two);
    CPU_SET(1, &two);
    bool allowed = false;
    std::thread([&] {
        allowed = pthread_setaffinity_np(pthread_self(), sizeof two, &two) == 0;
    }).join();
    if (!allowed)
        GTEST_SKIP() << "CPUs 0 and 1 are not both to be had";
    constexpr int kReads = 100;
    constexpr std::uint32_t kCells = 20000;
    bool producerOutside = false, consumerOutside = false, callerMoved = true;
    std::size_t cells = 0;
    std::thread caller([&] {
        ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof two, &two), 0);
        class OnWhichCpu : public gq::CellVisitor {
        public:
            OnWhichCpu(const cpu_set_t& cpus, bool& outside, std::size_t& cells)
                : cpus_(cpus), outside_(outside), cells_(cells) {}
            bool visit(const gq::Cell&) override {
                outside_ = outside_ || !CPU_ISSET(sched_getcpu(), &cpus_);
                ++cells_;
                return true;
            }

        private:
            const cpu_set_t& cpus_;
            bool& outside_;
            std::size_t& cells_;
        } consumer(two, consumerOutside, cells);
        // Many reads of many batches: the last batches are taken after the producer has ended.
        for (int read = 0; read < kReads; ++read)
            gq::PipeCells(
                [&](gq::CellVisitor& sink) {
                    gq::Cell cell;
                    cell.kind = gq::CellKind::Number;
                    for (std::uint32_t row = 1; row <= kCells; ++row) {
                        cell.row = row;
                        // Slower than the consumer, which then waits for each batch: each wake-up
                        // is a chance for the scheduler to put the two sides on one CPU.
                        volatile double work = row;
                        for (int i = 0; i < 50; ++i)
                            work = work * 1.0000001 + 1;
                        if (row % 4096 == 0)
                            producerOutside = producerOutside || !CPU_ISSET(sched_getcpu(), &two);
                        if (!sink.visit(cell))
                            return;
                    }
                },
                consumer);
        cpu_set_t after;
        ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof after, &after), 0);
        callerMoved = !CPU_EQUAL(&after, &two);
    });
    caller.join();
    EXPECT_EQ(cells, std::size_t{kReads} * kCells);
    EXPECT_FALSE(producerOutside);
    EXPECT_FALSE(consumerOutside);
    EXPECT_FALSE(callerMoved);
}

} // namespace
