#pragma once

// What the command-line benchmarks measure with: CPU seconds, steadier than wall time on a busy
// machine, and the median of several rounds.

#include <algorithm>
#include <ctime>
#include <vector>

namespace gqbench {

// CPU seconds of the whole process, every thread counted.
inline double CpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace gqbench
