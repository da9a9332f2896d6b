// The fuzzer's bytes become one part of an otherwise sound OpenDocument spreadsheet: the first
// byte picks the content part or the styles part.
#include "FuzzSupport.h"
#include "OdsReader.h"

namespace {

const char kNamespaces[] = R"( xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
                           R"( xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0")"
                           R"( xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")"
                           R"( xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0")"
                           R"( xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0")";

const std::string kContent =
    std::string(R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content)") + kNamespaces +
    R"(><office:automatic-styles>)"
    R"(<style:style style:name="ce1" style:family="table-cell" style:data-style-name="N1"/>)"
    R"(</office:automatic-styles><office:body><office:spreadsheet>)"
    R"(<table:table table:name="Sheet1"><table:table-row>)"
    R"(<table:table-cell office:value-type="string"><text:p>green <text:s text:c="2"/>tea</text:p></table:table-cell>)"
    R"(<table:table-cell table:style-name="ce1" office:value-type="float" office:value="-1234.5"/>)"
    R"(<table:table-cell office:value-type="date" office:date-value="2024-02-29T13:45:00"/>)"
    R"(</table:table-row><table:table-row table:number-rows-repeated="2">)"
    R"(<table:table-cell office:value-type="boolean" office:boolean-value="true" table:number-columns-repeated="3"/>)"
    R"(</table:table-row></table:table></office:spreadsheet></office:body></office:document-content>)";

const std::string kStyles =
    std::string(R"(<?xml version="1.0" encoding="UTF-8"?><office:document-styles)") + kNamespaces +
    R"(><office:styles><number:number-style style:name="N1">)"
    R"(<number:number number:decimal-places="2" number:min-integer-digits="1" number:grouping="true"/>)"
    R"(</number:number-style></office:styles></office:document-styles>)";

const char kManifest[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">)"
    R"(<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>)"
    R"(<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>)"
    R"(<manifest:file-entry manifest:full-path="styles.xml" manifest:media-type="text/xml"/>)"
    R"(</manifest:manifest>)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    gqfuzz::Selected input = gqfuzz::Select(data, size);
    std::vector<gqfuzz::Part> parts = {
        {"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
        {"META-INF/manifest.xml", kManifest},
        {"content.xml", kContent},
        {"styles.xml", kStyles},
    };
    parts[2 + input.selector % 2].content = input.bytes;
    gqfuzz::ReadWorkbook(gq::OpenOdsReader, gqfuzz::InputFile().write(gqfuzz::ZipBytes(parts)));
    return 0;
}
