#pragma once

#include "FormatReader.h"

#include <memory>
#include <string>

namespace gq {

// Binary Office workbooks (.xlsb).
std::unique_ptr<FormatReader> OpenXlsbReader(const std::string& path);

} // namespace gq
