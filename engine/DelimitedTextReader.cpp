#include "Error.h"
#include "FormatReader.h"

namespace gq {

std::unique_ptr<FormatReader> OpenDelimitedTextReader(const std::string&) {
    throw Error("This workbook format is not supported yet");
}

} // namespace gq
