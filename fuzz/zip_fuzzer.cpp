// The fuzzer's bytes are a whole package file: the container itself is under attack, its end
// records, central directory and local headers. The seeds are small real workbooks; the file is
// read as each package format's reader reads it.
#include "FuzzSupport.h"
#include "OdsReader.h"
#include "XlsbReader.h"
#include "XlsxReader.h"

#include <string_view>

namespace {

std::unique_ptr<gq::FormatReader> OpenXlsx(const std::string& path) {
    return gq::OpenXlsxReader(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path =
        gqfuzz::InputFile().write(std::string_view(reinterpret_cast<const char*>(data), size));
    for (gqfuzz::ReaderOpener open : {&OpenXlsx, &gq::OpenXlsbReader, &gq::OpenOdsReader})
        gqfuzz::ReadWorkbook(open, path);
    return 0;
}
