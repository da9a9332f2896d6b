#pragma once

#include "FormatReader.h"

#include <memory>
#include <string>

namespace gq {

// Legacy binary workbooks (.xls) of every version: inside an OLE2 compound file or a bare
// record stream.
std::unique_ptr<FormatReader> OpenXlsReader(const std::string& path);

} // namespace gq
