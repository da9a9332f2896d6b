#include "StyleTable.h"

namespace gq {

void StyleTable::addStyle(std::string_view code) {
    if (code.empty() || code.size() > kMaxCodeLength)
        code = "General";
    auto [slot, added] = index_.emplace(code, static_cast<std::uint32_t>(codes_.size()));
    if (added)
        codes_.emplace_back(code);
    styles_.push_back(slot->second);
}

} // namespace gq
