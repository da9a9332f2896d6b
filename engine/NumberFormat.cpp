// Placeholder until the full format engine lands: every code acts as General.
#include "NumberFormat.h"

#include <charconv>

namespace gq {

struct NumberFormat::Impl {};

NumberFormat::NumberFormat(std::string_view) : impl_(std::make_unique<Impl>()) {}
NumberFormat::~NumberFormat() = default;
NumberFormat::NumberFormat(NumberFormat&&) noexcept = default;
NumberFormat& NumberFormat::operator=(NumberFormat&&) noexcept = default;

std::string NumberFormat::formatNumber(double value, bool) const {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string NumberFormat::formatText(std::string_view text) const { return std::string(text); }

std::string BuiltInFormatCode(int id) { return id == 0 ? "General" : std::string(); }

} // namespace gq
