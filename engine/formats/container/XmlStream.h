#pragma once

#include <string_view>

namespace gq {

class ByteStream;

// Receives the events of an XML part. Element and attribute names arrive as local names: a
// namespace prefix ("x:c") is dropped, so the transitional, the Strict and the prefixed forms of a
// part all read alike.
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    // `attributes` is expat's list: name, value, name, value, ..., nullptr.
    virtual void startElement(std::string_view name, const char** attributes) = 0;
    virtual void endElement(std::string_view name) = 0;
    virtual void characters(std::string_view text) = 0;
    // Checked after each chunk of input: return true to end the parse early.
    virtual bool done() const { return false; }
};

// Workbook parts nest a few levels deep; a parser's memory grows with every open element, so a
// part nested deeper than this is refused, with this reason, instead of costing gigabytes.
inline constexpr int kMaxXmlDepth = 10000;
inline constexpr const char* kXmlTooDeep = "its XML is nested too deeply";

// The value of the attribute with this local name, or nullptr.
const char* XmlAttribute(const char** attributes, std::string_view name);

// Parses the whole stream with expat; throws gq::Error (damaged file) on malformed XML.
void ParseXml(ByteStream& input, XmlHandler& handler);
void ParseXml(std::string_view document, XmlHandler& handler);

} // namespace gq
