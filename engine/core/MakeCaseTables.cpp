// Writes the case tables that CaseMapping.cpp compiles, taken from Qt's own: the window lowers
// and folds text with Qt, and the command line, which does without it, must do exactly the same.
#include <QChar>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Run {
    char32_t first, last;
    long delta;
    unsigned stride;
};

// Code points that map alike, as runs: every `stride`-th code point from `first` to `last` maps
// to itself plus `delta`, and the ones between map to themselves.
std::vector<Run> RunsOf(const std::function<char32_t(char32_t)>& map) {
    std::vector<Run> runs;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const long delta = static_cast<long>(map(c)) - static_cast<long>(c);
        if (delta == 0)
            continue;
        if (!runs.empty()) {
            Run& run = runs.back();
            const bool single = run.first == run.last;
            if (run.delta == delta && single && c - run.last <= 2) {
                run.stride = c - run.last;
                run.last = c;
                continue;
            }
            if (run.delta == delta && !single && c - run.last == run.stride) {
                run.last = c;
                continue;
            }
        }
        runs.push_back({c, c, delta, 1});
    }
    return runs;
}

void Write(std::FILE* out, const char* name, const std::vector<Run>& runs) {
    std::fprintf(out, "constexpr CaseRun %s[] = {\n", name);
    for (const Run& run : runs)
        std::fprintf(out, "    {0x%X, 0x%X, %ld, %u},\n", static_cast<unsigned>(run.first),
                     static_cast<unsigned>(run.last), run.delta, run.stride);
    std::fprintf(out, "};\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-case-tables OUTPUT\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out)
        return 1;
    std::fprintf(out, "// Made by make-case-tables from Qt %s.\n", qVersion());
    Write(out, "kLowerRuns", RunsOf([](char32_t c) { return QChar::toLower(c); }));
    Write(out, "kFoldRuns", RunsOf([](char32_t c) { return QChar::toCaseFolded(c); }));
    return std::fclose(out) == 0 ? 0 : 1;
}
