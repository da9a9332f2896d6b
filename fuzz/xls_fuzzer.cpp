// The fuzzer's bytes become the BIFF stream of a compound file written by libgsf's writer: the
// first byte picks the stream's name ("Workbook" for BIFF8, "Book" for BIFF5), or takes the bytes
// as the whole file (a compound file of the fuzzer's making, or a bare BIFF stream).
#include "FuzzSupport.h"
#include "XlsReader.h"

#include <gsf/gsf.h>

#include <cstdio>
#include <cstdlib>

namespace {

std::string CompoundFile(const char* streamName, std::string_view stream) {
    GsfOutput* memory = gsf_output_memory_new();
    GsfOutfile* outfile = gsf_outfile_msole_new(memory);
    GsfOutput* child = gsf_outfile_new_child(outfile, streamName, FALSE);
    bool written =
        child &&
        gsf_output_write(child, stream.size(), reinterpret_cast<const guint8*>(stream.data())) &&
        gsf_output_close(child);
    written = gsf_output_close(GSF_OUTPUT(outfile)) && written;
    if (!written) {
        std::fprintf(stderr, "fuzz target setup failed: writing the compound file\n");
        std::abort();
    }
    std::string bytes(
        reinterpret_cast<const char*>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory))),
        static_cast<std::size_t>(gsf_output_size(memory)));
    g_object_unref(child);
    g_object_unref(outfile);
    g_object_unref(memory);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gsf_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    gqfuzz::Selected input = gqfuzz::Select(data, size);
    std::string file;
    switch (input.selector % 3) {
    case 0:
        file = CompoundFile("Workbook", input.bytes);
        break;
    case 1:
        file = CompoundFile("Book", input.bytes);
        break;
    default:
        file = input.bytes;
        break;
    }
    gqfuzz::ReadWorkbook([](const std::string& path) { return gq::OpenXlsReader(path); },
                         gqfuzz::InputFile().write(file));
    return 0;
}
