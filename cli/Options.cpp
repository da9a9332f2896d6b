#include "Options.h"

#include "Error.h"
#include "TermListFile.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gq::cli {

namespace {

constexpr const char* kUsage = "Usage: gridquest-find [OPTION]... TERM PATH...\n"
                               "       gridquest-find [OPTION]... -f TERMFILE... PATH...\n";

constexpr const char* kHelp =
    "Searches spreadsheet workbooks (.xlsx .xlsm .xlsb .xls .ods .csv .txt) for TERM and prints\n"
    "one line per matching cell: file, sheet, location, cell text, row and column, separated by\n"
    "TAB. A PATH that is a folder is searched with all its sub-folders.\n"
    "\n"
    "A TERM without * may occur anywhere in a cell; with * it must match the whole text.\n"
    "? is one character, # one digit, [abc] [a-z] [!abc] one character of (or not of) a list.\n"
    "\n"
    "Matching:\n"
    "  -i, --ignore-case         ignore letter case (the default)\n"
    "  -s, --case-sensitive      letter case must match (also --match-case)\n"
    "  -f, --file=TERMFILE       search for every line of TERMFILE as a term, one row per\n"
    "                            matching term; may be given more than once; no TERM then\n"
    "      --no-locations        search each sheet's TAB-separated text line by line: faster;\n"
    "                            a row holds the whole line and no location\n"
    "      --ext=PATTERN         search the files in folders whose extension matches PATTERN\n"
    "                            (default xl*, case-insensitive)\n"
    "  -j, --threads=N           search N files at once (default: the number of cores); the\n"
    "                            output is the same as with one, in the same order\n"
    "\n"
    "Output:\n"
    "  -l, --files-with-matches  print only the name of each file that has a match\n"
    "  -c, --count               print each file's number of result rows (FILE:COUNT when\n"
    "                            more than one file is searched)\n"
    "      --json                print each result row as a JSON object on a line of its own,\n"
    "                            with the keys file, sheet, location, text, row and col\n"
    "      --color[=WHEN]        highlight the matches: never (the default), always, or auto\n"
    "                            (on a terminal, unless NO_COLOR is set); --color alone is auto\n"
    "      --stats               end with files=N sheets=N cells=N rows=N seconds=S on stderr\n"
    "\n"
    "Other:\n"
    "  -h, --help                show this help and exit\n"
    "  -V, --version             show the version and exit\n"
    "  --                        end of the options: a TERM or PATH after it may start with -\n"
    "\n"
    "In a line TAB, CR, LF and backslash inside a column are written \\t, \\r, \\n and \\\\.\n"
    "While a search runs longer than a second, stderr shows which file it is at, when stderr\n"
    "is a terminal.\n"
    "\n"
    "Exit status: 0 when a row was found, 1 when none was, 2 when a file could not be searched\n"
    "or the command line is wrong.\n";

constexpr int kMaxThreads = 256;

enum LongOnly { kNoLocations = 256, kExt, kStats, kJson, kColor };

constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"files-with-matches", no_argument, nullptr, 'l'},
    {"count", no_argument, nullptr, 'c'},
    {"ignore-case", no_argument, nullptr, 'i'},
    {"case-sensitive", no_argument, nullptr, 's'},
    {"match-case", no_argument, nullptr, 's'},
    {"file", required_argument, nullptr, 'f'},
    {"threads", required_argument, nullptr, 'j'},
    {"no-locations", no_argument, nullptr, kNoLocations},
    {"ext", required_argument, nullptr, kExt},
    {"stats", no_argument, nullptr, kStats},
    {"json", no_argument, nullptr, kJson},
    {"color", optional_argument, nullptr, kColor},
    {"colour", optional_argument, nullptr, kColor},
    {nullptr, 0, nullptr, 0},
};

Parsed UsageError(const char* format, const char* a = "", const char* b = "") {
    std::fputs("gridquest-find: ", stderr);
    std::fprintf(stderr, format, a, b);
    std::fputc('\n', stderr);
    std::fputs(kUsage, stderr);
    std::fputs("Try 'gridquest-find --help' for more information.\n", stderr);
    return Parsed::UsageError;
}

} // namespace

Parsed ParseArguments(int argc, char** argv, Options& options) {
    // getopt names the program by argv[0] in its messages; they name this program however it was
    // started. It permutes the array, so it gets a copy.
    static char name[] = "gridquest-find";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    args[0] = name;
    optind = 0; // a full reset, should anything have parsed before
    opterr = 1;
    const char* outputOption = nullptr;
    auto setOutput = [&](Output output, const char* option) {
        if (outputOption && options.output != output)
            return UsageError("%s and %s cannot be used together", outputOption, option);
        options.output = output;
        outputOption = option;
        return Parsed::Run;
    };
    for (;;) {
        int code = getopt_long(argc, args.data(), "hVlcisf:j:", kLongOptions, nullptr);
        if (code == -1)
            break;
        Parsed parsed = Parsed::Run;
        switch (code) {
        case 'h':
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return Parsed::Done;
        case 'V':
            std::puts("gridquest-find " GQ_VERSION);
            return Parsed::Done;
        case 'l':
            parsed = setOutput(Output::FilesWithMatches, "-l");
            break;
        case 'c':
            parsed = setOutput(Output::Count, "-c");
            break;
        case kJson:
            parsed = setOutput(Output::Json, "--json");
            break;
        case 'i':
            options.matchCase = false;
            break;
        case 's':
            options.matchCase = true;
            break;
        case kNoLocations:
            options.noLocations = true;
            break;
        case kStats:
            options.stats = true;
            break;
        case kExt:
            options.extension = optarg;
            break;
        case 'j': {
            char* end = nullptr;
            long threads = std::strtol(optarg, &end, 10);
            if (end == optarg || *end != '\0' || threads < 1 || threads > kMaxThreads)
                return UsageError("invalid number of threads '%s' for '-j' (1 to 256)", optarg);
            options.threads = static_cast<unsigned>(threads);
            break;
        }
        case 'f':
            try {
                auto terms = ReadTermListFile(optarg);
                options.terms.insert(options.terms.end(), terms.begin(), terms.end());
            } catch (const Error& error) {
                return UsageError("%s: %s", optarg, error.what());
            }
            options.multiple = true;
            break;
        case kColor:
            if (!optarg || std::strcmp(optarg, "auto") == 0)
                options.color = Color::Auto;
            else if (std::strcmp(optarg, "always") == 0)
                options.color = Color::Always;
            else if (std::strcmp(optarg, "never") == 0)
                options.color = Color::Never;
            else
                return UsageError("invalid argument '%s' for '--color' (never, always or auto)",
                                  optarg);
            break;
        default: // getopt has named the option and what is wrong with it
            std::fputs(kUsage, stderr);
            std::fputs("Try 'gridquest-find --help' for more information.\n", stderr);
            return Parsed::UsageError;
        }
        if (parsed != Parsed::Run)
            return parsed;
    }
    std::vector<std::string> positional(args.begin() + optind, args.begin() + argc);
    std::size_t first = 0;
    if (!options.multiple) {
        if (positional.empty())
            return UsageError("no TERM given");
        options.term = positional[first++];
    }
    options.paths.assign(positional.begin() + static_cast<long>(first), positional.end());
    if (options.paths.empty())
        return UsageError("no PATH given");
    return Parsed::Run;
}

bool UseColor(Color color, bool stdoutIsTerminal, const char* noColor, const char* term) {
    switch (color) {
    case Color::Never:
        return false;
    case Color::Always:
        return true;
    case Color::Auto:
        break;
    }
    return stdoutIsTerminal && !(noColor && *noColor) && !(term && std::strcmp(term, "dumb") == 0);
}

} // namespace gq::cli
