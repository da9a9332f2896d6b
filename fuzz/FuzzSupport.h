#pragma once

#include "FormatReader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What the fuzz targets share: a private file to hand a reader (readers take a path), packages
// built around the fuzzer's bytes, and a read of a whole workbook as a search makes it.
namespace gqfuzz {

// An anonymous memory file that only this process sees, rewritten for every input. Its path is
// the /proc link to the descriptor, so every reader opens it as it would open any file.
class PrivateFile {
public:
    PrivateFile();
    ~PrivateFile();
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;

    // Replaces the whole content and returns the path to open.
    const std::string& write(std::string_view bytes);

private:
    int fd_;
    std::string path_;
};

// The file that this process's target writes each input to.
PrivateFile& InputFile();

// The fuzzer's input split into a selector (its first byte) and the rest.
struct Selected {
    std::uint8_t selector = 0;
    std::string_view bytes;
};
Selected Select(const std::uint8_t* data, std::size_t size);

struct Part {
    std::string name;
    std::string_view content;
};
// A zip package of the given parts, stored: deflating them would cost more than reading them, and
// the bytes a reader gets are the same.
std::string ZipBytes(const std::vector<Part>& parts);

// The parts of a one-sheet Office workbook package, in the order a selector byte picks them.
enum OfficePart { Worksheet, SharedStrings, Styles, Workbook, kOfficeParts };
// An Office package (.xlsx and .xlsm: `extension` "xml"; .xlsb: "bin") holding these parts under
// their usual names, tied together by content types and relationships.
std::string OfficePackage(std::string_view extension, std::string_view workbookContentType,
                          const std::string_view (&parts)[kOfficeParts]);

using ReaderOpener = std::unique_ptr<gq::FormatReader> (*)(const std::string& path);

// Opens `path` with `open` and reads every worksheet's cells and their displayed text, as a
// search does. gq::Error is the expected answer to damaged input; anything else escapes and is a
// finding, and so is a cell outside the grid or out of row-major order.
void ReadWorkbook(ReaderOpener open, const std::string& path);

} // namespace gqfuzz
