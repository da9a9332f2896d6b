// reader-loop FILE [SECONDS]: opens FILE and reads every cell's displayed text again and again for
// about SECONDS (default 3), then prints the cells per second. For formats that no program here
// can write at benchmark size, such as .xlsb.
#include "Error.h"
#include "Spreadsheet.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) try {
    if (argc < 2) {
        std::fprintf(stderr, "usage: reader-loop FILE [SECONDS]\n");
        return 2;
    }
    double budget = argc > 2 ? std::atof(argv[2]) : 3.0;
    auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    std::size_t cells = 0, rounds = 0, bytes = 0;
    do {
        gq::Workbook workbook(argv[1]);
        for (const auto& sheet : workbook.worksheets())
            sheet->forEachText([&](auto, auto, const std::string& text) {
                ++cells;
                bytes += text.size();
                return true;
            });
        ++rounds;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (elapsed < budget);
    std::printf("%s: %zu rounds, %zu cells, %.2f M cells/s (%.1f ms a round)\n", argv[1], rounds,
                cells, cells / elapsed / 1e6, elapsed * 1000 / rounds);
    return bytes > 0 ? 0 : 1;
} catch (const gq::Error& error) {
    std::fprintf(stderr, "reader-loop: %s: %s\n", argv[1], error.what());
    return 2;
}
