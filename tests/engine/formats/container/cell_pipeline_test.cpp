#include "CellPipeline.h"
#include "Error.h"

#include <gtest/gtest.h>

#include <string>

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
    Collector all;
    EXPECT_THROW(gq::PipeCells([](gq::CellVisitor& sink) { Produce(sink, 5000, true); }, all),
                 gq::Error);
    EXPECT_EQ(all.rows.size(), 5000u);
    Collector early(3);
    EXPECT_NO_THROW(
        gq::PipeCells([](gq::CellVisitor& sink) { Produce(sink, 100000, true); }, early));
    EXPECT_EQ(early.rows.size(), 3u);
}

} // namespace
