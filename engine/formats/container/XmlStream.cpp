#include "XmlStream.h"

#include "Error.h"
#include "ZipPackage.h"

#include <expat.h>

#include <cstring>
#include <memory>
#include <random>

namespace gq {

namespace {

// One pass over the name: it runs for every element of every sheet.
std::string_view LocalName(const char* name) {
    const char* start = name;
    const char* p = name;
    for (; *p; ++p)
        if (*p == ':')
            start = p + 1;
    return std::string_view(start, static_cast<std::size_t>(p - start));
}

struct ParserDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using Parser = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter>;

struct Context {
    XML_Parser parser;
    XmlHandler* handler;
    int depth = 0;
    bool tooDeep = false;
};

// One secret salt for the element-name hashes of every parser: expat otherwise asks the system
// for a new one per parser, a system call for each small part. It only has to be unknown to the
// file, so that no file can be made of names that collide.
unsigned long HashSalt() {
    static const unsigned long salt = [] {
        std::random_device device;
        return (static_cast<unsigned long>(device()) << 32) ^ device();
    }();
    return salt;
}

Parser MakeParser(Context& context) {
    Parser parser(XML_ParserCreate(nullptr));
    if (!parser)
        throw Error("Out of memory while reading the file");
    XML_SetHashSalt(parser.get(), HashSalt());
    context.parser = parser.get();
    XML_SetUserData(parser.get(), &context);
    XML_SetElementHandler(
        parser.get(),
        [](void* data, const char* name, const char** attributes) {
            auto* context = static_cast<Context*>(data);
            if (++context->depth > kMaxXmlDepth) {
                context->tooDeep = true;
                XML_StopParser(context->parser, XML_FALSE);
                return;
            }
            context->handler->startElement(LocalName(name), attributes);
        },
        [](void* data, const char* name) {
            auto* context = static_cast<Context*>(data);
            --context->depth;
            context->handler->endElement(LocalName(name));
            if (context->handler->done())
                XML_StopParser(context->parser, XML_FALSE);
        });
    XML_SetCharacterDataHandler(parser.get(), [](void* data, const char* text, int length) {
        static_cast<Context*>(data)->handler->characters(
            std::string_view(text, static_cast<std::size_t>(length)));
    });
    return parser;
}

// Throws for malformed XML; returns false once the handler asked to stop.
bool Check(const Context& context, XML_Status status) {
    if (status != XML_STATUS_ERROR)
        return true;
    if (context.tooDeep)
        throw Error(std::string(kNotAWorkbook) + ": " + kXmlTooDeep);
    if (XML_GetErrorCode(context.parser) == XML_ERROR_ABORTED)
        return false;
    throw Error(std::string(kNotAWorkbook) + ": " +
                XML_ErrorString(XML_GetErrorCode(context.parser)));
}

} // namespace

const char* XmlAttribute(const char** attributes, std::string_view name) {
    for (; *attributes; attributes += 2)
        if (LocalName(attributes[0]) == name)
            return attributes[1];
    return nullptr;
}

void ParseXml(ByteStream& input, XmlHandler& handler) {
    Context context{nullptr, &handler};
    Parser parser = MakeParser(context);
    constexpr std::size_t kChunk = 1 << 16;
    for (;;) {
        void* buffer = XML_GetBuffer(parser.get(), kChunk);
        if (!buffer)
            throw Error("Out of memory while reading the file");
        std::size_t got = input.read(static_cast<char*>(buffer), kChunk);
        if (!Check(context, XML_ParseBuffer(parser.get(), static_cast<int>(got), got == 0)))
            return;
        if (got == 0 || handler.done())
            return;
    }
}

void ParseXml(std::string_view document, XmlHandler& handler) {
    Context context{nullptr, &handler};
    Parser parser = MakeParser(context);
    Check(context,
          XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), XML_TRUE));
}

} // namespace gq
