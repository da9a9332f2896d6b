// The fuzzer's bytes are a delimited text file.
#include "DelimitedTextReader.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    gqfuzz::ReadWorkbook(gq::OpenDelimitedTextReader, gqfuzz::InputFile().write(bytes));
    return 0;
}
