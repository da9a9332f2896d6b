#include "FormatReader.h"

#include <filesystem>

namespace gq {

std::string SheetNameOfFile(const std::string& path) {
    std::filesystem::path file(path);
    std::string name = file.stem().string();
    if (name.empty())
        name = file.filename().string();
    // A sheet name holds at most 31 UTF-16 units; a character that would straddle the limit
    // goes whole.
    std::size_t units = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        auto byte = static_cast<unsigned char>(name[i]);
        if ((byte & 0xC0) == 0x80)
            continue;
        units += byte >= 0xF0 ? 2 : 1;
        if (units > 31) {
            name.resize(i);
            break;
        }
    }
    return name;
}

} // namespace gq
