#pragma once

#include "FormatReader.h"

#include <memory>
#include <string>

namespace gq {

// Office Open XML workbooks (.xlsx, .xlsm, .xltx, .xltm), transitional and Strict.
std::unique_ptr<FormatReader> OpenXlsxReader(const std::string& path);

} // namespace gq
