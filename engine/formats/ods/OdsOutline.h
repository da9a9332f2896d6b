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

// A parse that can pause after any event and go on later: a worksheet is read row by row, and
// the next worksheet from where the last one ended.
class Driver {
public:
    virtual ~Driver() = default;
    // Parses until an event pauses the parse (true) or the document ends (false); throws
    // gq::Error on malformed XML and rethrows what an event threw.
    virtual bool run(ByteStream& input) = 0;
    // From an event: run() returns after it, and the next run() goes on from there.
    virtual void pause() = 0;
    // From an event: the parse ends here, as if the document were complete.
    virtual void finish() = 0;
    // The offset in the input of the event being handled.
    virtual std::uint64_t byteIndex() const = 0;
};

// expat, for any document. Not namespace-aware.
class ExpatDriver : public Driver {
public:
    explicit ExpatDriver(Events& events);
    ~ExpatDriver() override;
    ExpatDriver(const ExpatDriver&) = delete;
    ExpatDriver& operator=(const ExpatDriver&) = delete;

    bool run(ByteStream& input) override;
    void pause() override;
    void finish() override;
    std::uint64_t byteIndex() const override;
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

// The same events as ExpatDriver, and the same documents refused, at several times its speed,
// for a document in UTF-8 without a document type declaration (no entities but the predefined
// ones) and without an XML declaration (it has been read already): the body of content.xml
// behind a TailStream. It refuses too what passes its limits below, and lets any non-ASCII
// character into a name. Names, attribute values and text are decoded in place in its buffer, so
// an event's strings live until it returns.
class Tokenizer : public Driver {
public:
    // A single tag, comment or CDATA section longer than this is refused rather than buffered.
    static constexpr std::size_t kMaxMarkup = 32 << 20;
    static constexpr std::size_t kMaxDepth = 10000;

    explicit Tokenizer(Events& events);

    bool run(ByteStream& input) override;
    void pause() override { paused_ = true; }
    void finish() override { finished_ = true; }
    std::uint64_t byteIndex() const override { return base_ + markupStart_; }

private:
    enum class Step { Done, More };
    struct Attribute {
        std::size_t name;
        std::size_t nameEnd;
        std::size_t value;
        std::size_t valueEnd;
        bool decode;
    };

    bool fill(ByteStream& input);
    Step token();
    Step text();
    Step startTag();
    Step endTag();
    Step special();
    std::size_t decodeValue(std::size_t begin, std::size_t end);
    void emitEnd();

    Events& events_;
    std::vector<char> buffer_; // one byte past the data stays 0, where every scan stops
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t base_ = 0; // offset in the input of buffer_[0]
    std::size_t markupStart_ = 0;
    bool eof_ = false;
    bool paused_ = false;
    bool finished_ = false;
    bool pendingEnd_ = false; // of an empty element whose start event paused the parse
    bool rootClosed_ = false;
    std::string names_; // of the open elements, one after another
    std::vector<std::size_t> nameStarts_;
    std::vector<Attribute> found_;
    std::vector<const char*> attributes_;
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
    std::string rootTag;        // likewise
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
