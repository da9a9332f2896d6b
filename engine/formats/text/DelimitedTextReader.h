#pragma once

#include "FormatReader.h"

#include <memory>
#include <string>

namespace gq {

// Delimited text (.csv, .txt): one worksheet named after the file.
std::unique_ptr<FormatReader> OpenDelimitedTextReader(const std::string& path);

} // namespace gq
