#pragma once

#include "FormatReader.h"

#include <memory>
#include <string>

namespace gq {

// Legacy binary workbooks (.xls) inside an OLE2 compound file.
std::unique_ptr<FormatReader> OpenXlsReader(const std::string& path);

} // namespace gq
