#pragma once

#include "FileDescriptor.h"
#include "FormatReader.h"

#include <memory>
#include <string>

namespace gq {

// Legacy binary workbooks (.xls) of every version: inside an OLE2 compound file or a bare
// record stream. Reads `file` when it is `path` opened already.
std::unique_ptr<FormatReader> OpenXlsReader(const std::string& path,
                                            FileDescriptor file = FileDescriptor());

} // namespace gq
