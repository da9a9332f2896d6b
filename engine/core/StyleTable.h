#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gq {

// What a reader knows about number formats: the format code of each cell style. A code is kept
// once however many styles share it, so a file with a million styles costs their indexes, not a
// million copies of a long code.
class StyleTable {
public:
    // Codes longer than a format code can be show as General; they are not kept.
    static constexpr std::size_t kMaxCodeLength = 4096;

    // The next cell style shows values through `code` (General when empty).
    void addStyle(std::string_view code);
    std::size_t styleCount() const { return styles_.size(); }
    // The code of a style; General for an index the file does not define.
    const std::string& code(std::uint32_t style) const { return codes_[codeIndex(style)]; }
    // A number shared by the styles of one code, below codeCount(); 0 is General.
    std::uint32_t codeIndex(std::uint32_t style) const {
        return style < styles_.size() ? styles_[style] : 0;
    }
    std::size_t codeCount() const { return codes_.size(); }
    const std::string& codeAt(std::uint32_t index) const { return codes_[index]; }

    bool date1904 = false;

private:
    std::vector<std::uint32_t> styles_;
    std::vector<std::string> codes_{"General"};
    std::unordered_map<std::string, std::uint32_t> index_{{"General", 0}};
};

} // namespace gq
