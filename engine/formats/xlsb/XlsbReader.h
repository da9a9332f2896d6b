#pragma once

#include "FormatReader.h"
#include "ZipPackage.h"

#include <memory>
#include <string>

namespace gq {

// Binary Office workbooks (.xlsb).
std::unique_ptr<FormatReader> OpenXlsbReader(const std::string& path);
// The same from a package already open, as the format was told from it.
std::unique_ptr<FormatReader> OpenXlsbReader(ZipPackage package);

} // namespace gq
