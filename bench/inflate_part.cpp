// inflate-part FILE [PART] [ROUNDS]: streams one part of a zip package through ZipPackage (on the
// calling thread, then with the read-ahead thread) and discards it; prints "MODE SECONDS CPU BYTES"
// for each: the median wall and CPU seconds (all threads) of ROUNDS rounds (default 9). PART
// defaults to an .xlsx's first worksheet.
#include "CpuTime.h"
#include "Error.h"
#include "ZipPackage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) try {
    if (argc < 2) {
        std::fprintf(stderr, "usage: inflate-part FILE [PART] [ROUNDS]\n");
        return 2;
    }
    const char* part = argc > 2 ? argv[2] : "xl/worksheets/sheet1.xml";
    int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
    gq::ZipPackage package(argv[1]);
    static char buffer[1 << 16];
    for (bool readAhead : {false, true}) {
        const auto ahead = readAhead ? gq::ReadAhead::OwnThread : gq::ReadAhead::None;
        std::vector<double> wall, cpu;
        std::size_t bytes = 0;
        for (int round = 0; round < rounds; ++round) {
            auto start = std::chrono::steady_clock::now();
            double cpuStart = gqbench::CpuSeconds();
            auto input = package.stream(part, ahead);
            bytes = 0;
            while (std::size_t got = input->read(buffer, sizeof buffer))
                bytes += got;
            input.reset(); // the read-ahead thread's time counts
            cpu.push_back(gqbench::CpuSeconds() - cpuStart);
            wall.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::printf("%s %.4f %.4f %zu\n", readAhead ? "read-ahead" : "this-thread",
                    gqbench::Median(wall), gqbench::Median(cpu), bytes);
    }
    return 0;
} catch (const gq::Error& error) {
    std::fprintf(stderr, "inflate-part: %s\n", error.what());
    return 2;
}
