#pragma once

#include "ZipPackage.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct XML_ParserStruct;

namespace gq {

class OdsDataStyles;

namespace ods {

// "table:table-cell" -> "table-cell".
std::string_view LocalName(const char* name);
// An attribute by local name, preferring the standard one over an extension's of the same
// local name (office:value-type beside calcext:value-type); nullptr when absent.
const char* Attr(const char** attributes, std::string_view name);

class Events {
public:
    virtual ~Events() = default;
    virtual void start(std::string_view name, const char* qualified, const char** attributes) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view text) = 0;
};

// expat, driven so that a parse can pause after any event and go on later: a worksheet is read
// row by row, and the next worksheet from where the last one ended. Not namespace-aware.
class ExpatDriver {
public:
    explicit ExpatDriver(Events& events);
    ~ExpatDriver();
    ExpatDriver(const ExpatDriver&) = delete;
    ExpatDriver& operator=(const ExpatDriver&) = delete;

    // Parses until an event pauses the parse (true) or the document ends (false); throws
    // gq::Error on malformed XML and rethrows what an event threw.
    bool run(ByteStream& input);
    // From an event: run() returns after it, and the next run() goes on from there.
    void pause();
    // From an event: the parse ends here, as if the document were complete.
    void finish();
    // The offset in the input of the event being handled.
    std::uint64_t byteIndex() const;
    bool utf8() const { return utf8_; }
    bool doctype() const { return doctype_; }

private:
    bool settle(int status);
    void fail();
    static void onStart(void* data, const char* name, const char** attributes);
    static void onEnd(void* data, const char* name);
    static void onText(void* data, const char* text, int length);

    Events& events_;
    XML_ParserStruct* parser_;
    std::exception_ptr failure_;
    bool suspended_ = false;
    bool finished_ = false;
    bool final_ = false;
    bool utf8_ = true;
    bool doctype_ = false;
};

// content.xml from a worksheet's start tag on, behind an opening tag that stands in for the
// spreadsheet element, so that a later worksheet is parsed without parsing the ones before it.
// Sound because the parse is not namespace-aware and the document has no DTD (the outline
// says whether it has one).
class TailStream : public ByteStream {
public:
    TailStream(std::unique_ptr<ByteStream> inner, std::uint64_t skip, std::string opening);
    std::size_t read(char* buffer, std::size_t size) override;

private:
    std::unique_ptr<ByteStream> inner_;
    std::uint64_t skip_;
    std::string prefix_;
    std::size_t offset_ = 0;
};

struct SheetOutline {
    std::string name;
    std::uint64_t offset = 0; // of its start tag in content.xml
};

struct Outline {
    std::vector<SheetOutline> sheets;
    std::string spreadsheetTag; // as written, prefix and all
    bool spreadsheetSeen = false;
    bool date1904 = false;
    bool tailsUsable = false; // a worksheet may be parsed from its offset on (TailStream)
    std::uint64_t bodyOffset = 0;

    void addSheet(std::string name, std::uint64_t offset);
};

// Reads the number and cell styles of styles.xml and content.xml into `styles` and finds the
// worksheets. Throws gq::Error when the package holds no spreadsheet.
Outline ReadOutline(const ZipPackage& package, OdsDataStyles& styles);

} // namespace ods
} // namespace gq
