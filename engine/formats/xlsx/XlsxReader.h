#pragma once

#include "FormatReader.h"
#include "ZipPackage.h"

#include <memory>
#include <string>

namespace gq {

// What reads the cells of a worksheet part: the scanner made for that grammar (which hands a part
// it does not expect to expat), or expat alone, the general XML parser that reads every other part.
enum class SheetParser { Scanner, Expat };

// Office Open XML workbooks (.xlsx, .xlsm, .xltx, .xltm), transitional and Strict.
std::unique_ptr<FormatReader> OpenXlsxReader(const std::string& path,
                                             SheetParser parser = SheetParser::Scanner);
// The same from a package already open, as the format was told from it.
std::unique_ptr<FormatReader> OpenXlsxReader(ZipPackage package,
                                             SheetParser parser = SheetParser::Scanner);

} // namespace gq
