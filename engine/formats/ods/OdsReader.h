#pragma once

#include "FormatReader.h"
#include "ZipPackage.h"

#include <memory>
#include <string>

namespace gq {

// OpenDocument spreadsheets (.ods).
std::unique_ptr<FormatReader> OpenOdsReader(const std::string& path);
// The same from a package already open, as the format was told from it.
std::unique_ptr<FormatReader> OpenOdsReader(ZipPackage package);

} // namespace gq
