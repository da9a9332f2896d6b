#pragma once

#include <string>
#include <vector>

namespace gq::cli {

// What becomes of the result rows.
enum class Output { Lines, FilesWithMatches, Count, Json };
enum class Color { Never, Always, Auto };

struct Options {
    bool matchCase = false;
    bool noLocations = false;
    bool stats = false;
    bool multiple = false; // -f given: the term list, no TERM
    unsigned threads = 0;  // files searched at once; 0 for the number of cores
    Output output = Output::Lines;
    Color color = Color::Never;
    std::string extension = "xl*";
    std::string term;
    std::vector<std::string> terms;
    std::vector<std::string> paths;
};

enum class Parsed { Run, Done, UsageError };

// Reads the command line the way grep does (getopt_long: bundled short options, "--opt=value",
// unambiguous abbreviations, "--" ends the options). Help and version go to stdout (Done); every
// error names what is wrong on stderr (UsageError).
Parsed ParseArguments(int argc, char** argv, Options& options);

// Whether rows are highlighted: asked for with --color, and for "auto" only on a terminal whose
// user has not set NO_COLOR.
bool UseColor(Color color, bool stdoutIsTerminal, const char* noColor, const char* term);

} // namespace gq::cli
