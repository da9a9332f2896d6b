#pragma once

#include "FormatReader.h"

#include <memory>
#include <string>

namespace gq {

// OpenDocument spreadsheets (.ods).
std::unique_ptr<FormatReader> OpenOdsReader(const std::string& path);

} // namespace gq
