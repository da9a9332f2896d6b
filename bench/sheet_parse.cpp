// sheet-parse FILE [PART] [ROUNDS]: the parse alone. Inflates one worksheet part of an .xlsx into
// memory, then reads its cells from there with the sheet scanner and with expat, ROUNDS times each
// (default 9), and prints "PARSER CPU_SECONDS CELLS": the median CPU seconds of a round. PART
// defaults to the first worksheet of the package's usual layout.
#include "CpuTime.h"
#include "Error.h"
#include "SheetCells.h"
#include "SheetScanner.h"
#include "ZipPackage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The part's bytes in the chunks a zip part gives.
class MemoryStream : public gq::ByteStream {
public:
    explicit MemoryStream(const std::string& bytes) : bytes_(bytes) {}
    std::size_t read(char* buffer, std::size_t size) override {
        std::size_t n = std::min({size, bytes_.size() - offset_, std::size_t{1} << 18});
        std::memcpy(buffer, bytes_.data() + offset_, n);
        offset_ += n;
        return n;
    }

private:
    const std::string& bytes_;
    std::size_t offset_ = 0;
};

class Count : public gq::CellVisitor {
public:
    bool visit(const gq::Cell& cell) override {
        ++cells;
        bytes += cell.text.size();
        return true;
    }
    std::size_t cells = 0;
    std::size_t bytes = 0;
};

} // namespace

int main(int argc, char** argv) try {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sheet-parse FILE [PART] [ROUNDS]\n");
        return 2;
    }
    const char* part = argc > 2 ? argv[2] : "xl/worksheets/sheet1.xml";
    int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
    const std::string bytes = gq::ZipPackage(argv[1]).read(part, gq::ZipPackage::kMaxPartBytes);
    // A table as large as any index, so that every shared-string cell finds a text as it would.
    gq::StringPool strings;
    for (int i = 0; i < (1 << 20); ++i)
        strings.add("text");
    for (const char* parser : {"scanner", "expat"}) {
        std::vector<double> cpu;
        Count count;
        for (int round = 0; round < rounds; ++round) {
            count = Count();
            double start = gqbench::CpuSeconds();
            MemoryStream input(bytes);
            gq::SheetCells cells(strings, false, count);
            if (std::strcmp(parser, "expat") == 0) {
                gq::ParseSheetXml(input, cells);
            } else {
                gq::SheetScanner scanner(input);
                if (!scanner.readsPart())
                    throw gq::Error("the scanner leaves this part to expat");
                scanner.read(cells);
            }
            cpu.push_back(gqbench::CpuSeconds() - start);
        }
        std::printf("%s %.4f %zu\n", parser, gqbench::Median(cpu), count.cells);
    }
    return 0;
} catch (const gq::Error& error) {
    std::fprintf(stderr, "sheet-parse: %s\n", error.what());
    return 2;
}
