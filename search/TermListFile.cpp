#include "TermListFile.h"

#include "CaseMapping.h"
#include "Error.h"
#include "Utf8.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace gq {

namespace {

// The characters that Windows-1252 puts at 0x80-0x9F (0 where it defines none); the rest of the
// code page equals Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsSpacesOnly(const std::string& line) {
    return line.find_first_not_of(' ') == std::string::npos;
}

} // namespace

std::string ToUtf8(const std::string& bytes) {
    std::u32string decoded;
    if (DecodeUtf8Strictly(bytes, decoded))
        return bytes;
    std::string text;
    text.reserve(bytes.size());
    for (unsigned char byte : bytes) {
        char16_t high = byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : 0;
        AppendUtf8(text, high ? high : byte);
    }
    return text;
}

std::vector<std::string> ReadTermListFile(const std::string& path) {
    // A folder opens as a stream that reads nothing: that is a failure, not an empty list.
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        throw Error("The path is a folder, not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error("File not found");
    std::ostringstream content;
    content << in.rdbuf();
    std::string bytes = content.str();
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        bytes.erase(0, 3);
    std::string text = ToUtf8(bytes);
    std::vector<std::string> terms;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!IsSpacesOnly(line))
            terms.push_back(line);
    }
    return terms;
}

} // namespace gq
