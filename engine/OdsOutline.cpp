#include "OdsOutline.h"

#include "Error.h"
#include "OdsDataStyles.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <strings.h>

namespace gq::ods {

std::string_view LocalName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

const char* Attr(const char** attributes, std::string_view name) {
    const char* fallback = nullptr;
    for (; *attributes; attributes += 2) {
        if (LocalName(attributes[0]) != name)
            continue;
        std::string_view qualified(attributes[0]);
        if (qualified.starts_with("calcext:") || qualified.starts_with("loext:"))
            fallback = fallback ? fallback : attributes[1];
        else
            return attributes[1];
    }
    return fallback;
}

namespace {

std::string AttrString(const char** attributes, std::string_view name) {
    const char* value = Attr(attributes, name);
    return value ? std::string(value) : std::string();
}

} // namespace

// ---- ExpatDriver

ExpatDriver::ExpatDriver(Events& events) : events_(events), parser_(XML_ParserCreate(nullptr)) {
    if (!parser_)
        throw Error("Out of memory while reading the file");
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &ExpatDriver::onStart, &ExpatDriver::onEnd);
    XML_SetCharacterDataHandler(parser_, &ExpatDriver::onText);
    XML_SetXmlDeclHandler(parser_, [](void* data, const XML_Char*, const XML_Char* encoding, int) {
        auto* self = static_cast<ExpatDriver*>(data);
        self->utf8_ = !encoding || strcasecmp(encoding, "UTF-8") == 0;
    });
    XML_SetStartDoctypeDeclHandler(parser_,
                                   [](void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                                      int) { static_cast<ExpatDriver*>(data)->doctype_ = true; });
}

ExpatDriver::~ExpatDriver() {
    XML_ParserFree(parser_);
}

bool ExpatDriver::run(ByteStream& input) {
    if (finished_)
        return false;
    if (suspended_) {
        suspended_ = false;
        if (settle(XML_ResumeParser(parser_)))
            return true;
        if (finished_ || final_) {
            finished_ = true;
            return false;
        }
    }
    constexpr int kChunk = 1 << 16;
    for (;;) {
        void* buffer = XML_GetBuffer(parser_, kChunk);
        if (!buffer)
            throw Error("Out of memory while reading the file");
        std::size_t got = input.read(static_cast<char*>(buffer), kChunk);
        final_ = got == 0;
        if (settle(XML_ParseBuffer(parser_, static_cast<int>(got), final_)))
            return true;
        if (finished_ || final_) {
            finished_ = true;
            return false;
        }
    }
}

void ExpatDriver::pause() {
    XML_StopParser(parser_, XML_TRUE);
}

void ExpatDriver::finish() {
    finished_ = true;
    XML_StopParser(parser_, XML_FALSE);
}

std::uint64_t ExpatDriver::byteIndex() const {
    XML_Index index = XML_GetCurrentByteIndex(parser_);
    return index < 0 ? 0 : static_cast<std::uint64_t>(index);
}

// True when the parse is suspended; throws on malformed XML or a failed event.
bool ExpatDriver::settle(int status) {
    if (status == XML_STATUS_SUSPENDED)
        return suspended_ = true;
    if (status != XML_STATUS_ERROR)
        return false;
    if (failure_) {
        finished_ = true;
        std::rethrow_exception(failure_);
    }
    if (finished_ && XML_GetErrorCode(parser_) == XML_ERROR_ABORTED)
        return false;
    finished_ = true;
    throw Error(std::string(kNotAWorkbook) + ": " + XML_ErrorString(XML_GetErrorCode(parser_)));
}

// Exceptions must not unwind through expat's C frames: they are kept and rethrown by run().
void ExpatDriver::fail() {
    failure_ = std::current_exception();
    XML_StopParser(parser_, XML_FALSE);
}

void ExpatDriver::onStart(void* data, const char* name, const char** attributes) {
    auto* self = static_cast<ExpatDriver*>(data);
    if (self->finished_ || self->failure_)
        return;
    try {
        self->events_.start(LocalName(name), name, attributes);
    } catch (...) {
        self->fail();
    }
}

void ExpatDriver::onEnd(void* data, const char* name) {
    auto* self = static_cast<ExpatDriver*>(data);
    if (self->finished_ || self->failure_)
        return;
    try {
        self->events_.end(LocalName(name));
    } catch (...) {
        self->fail();
    }
}

void ExpatDriver::onText(void* data, const char* text, int length) {
    auto* self = static_cast<ExpatDriver*>(data);
    if (self->finished_ || self->failure_)
        return;
    try {
        self->events_.text(std::string_view(text, static_cast<std::size_t>(length)));
    } catch (...) {
        self->fail();
    }
}

// ---- streams

TailStream::TailStream(std::unique_ptr<ByteStream> inner, std::uint64_t skip, std::string opening)
    : inner_(std::move(inner)), skip_(skip), prefix_(std::move(opening)) {}

std::size_t TailStream::read(char* buffer, std::size_t size) {
    while (skip_ > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, size));
        std::size_t got = inner_->read(buffer, want);
        if (got == 0)
            throw Error(std::string(kNotAWorkbook) + ": a worksheet lies past the end");
        skip_ -= got;
    }
    if (offset_ < prefix_.size()) {
        std::size_t n = std::min(size, prefix_.size() - offset_);
        std::memcpy(buffer, prefix_.data() + offset_, n);
        offset_ += n;
        return n;
    }
    return inner_->read(buffer, size);
}

namespace {

class StringStream : public ByteStream {
public:
    explicit StringStream(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(char* buffer, std::size_t size) override {
        std::size_t n = std::min(size, bytes_.size() - offset_);
        std::memcpy(buffer, bytes_.data() + offset_, n);
        offset_ += n;
        return n;
    }

private:
    std::string bytes_;
    std::size_t offset_ = 0;
};

} // namespace

// ---- the outline

void Outline::addSheet(std::string name, std::uint64_t offset) {
    if (name.empty())
        name = "Sheet" + std::to_string(sheets.size() + 1);
    sheets.push_back({std::move(name), offset});
}

namespace {

// The styles of styles.xml or content.xml and, unless told to stop at the body, the outline.
class OutlineEvents : public Events {
public:
    OutlineEvents(OdsDataStyles* styles, Outline& outline, bool stopAtBody)
        : styles_(styles), outline_(outline), stopAtBody_(stopAtBody) {}
    void attach(ExpatDriver& driver) { driver_ = &driver; }

    void start(std::string_view name, const char* qualified, const char** attributes) override {
        ++depth_;
        if (stylesDepth_ > 0) {
            if (styles_)
                styles_->startElement(name, attributes);
            return;
        }
        if (depth_ == 2 && (name == "automatic-styles" || name == "styles")) {
            stylesDepth_ = depth_;
        } else if (depth_ == 2 && name == "body" && stopAtBody_ && driver_) {
            outline_.bodyOffset = driver_->byteIndex();
            driver_->finish();
        } else if (name == "spreadsheet" && !outline_.spreadsheetSeen) {
            outline_.spreadsheetSeen = true;
            spreadsheetDepth_ = depth_;
            outline_.spreadsheetTag = qualified;
        } else if (spreadsheetDepth_ > 0 && depth_ == spreadsheetDepth_ + 1 && name == "table") {
            outline_.addSheet(AttrString(attributes, "name"), driver_ ? driver_->byteIndex() : 0);
        } else if (spreadsheetDepth_ > 0 && name == "null-date") {
            outline_.date1904 = AttrString(attributes, "date-value").starts_with("1904-01-01");
        }
    }
    void end(std::string_view name) override {
        if (stylesDepth_ > 0) {
            if (depth_ == stylesDepth_)
                stylesDepth_ = 0;
            else if (styles_)
                styles_->endElement(name);
        } else if (depth_ == spreadsheetDepth_) {
            spreadsheetDepth_ = 0;
        }
        --depth_;
    }
    void text(std::string_view text) override {
        if (stylesDepth_ > 0 && styles_)
            styles_->characters(text);
    }

private:
    OdsDataStyles* styles_;
    Outline& outline_;
    bool stopAtBody_;
    ExpatDriver* driver_ = nullptr;
    int depth_ = 0;
    int stylesDepth_ = 0;
    int spreadsheetDepth_ = 0;
};

// Finds the worksheets in the body of content.xml without an XML parse: start and end tags, the
// depth and two attributes are all the outline needs, and tokenising them alone runs at several
// times a parser's speed. Markup it does not expect makes it give up (run() returns false), and
// the caller parses instead; well-formedness is checked when the cells are read.
class BodyScanner {
public:
    BodyScanner(Outline& outline, std::uint64_t offset) : outline_(outline), offset_(offset) {}

    bool run(ByteStream& input) {
        std::vector<char> buffer(1 << 16);
        while (std::size_t got = input.read(buffer.data(), buffer.size())) {
            if (!scan(buffer.data(), got))
                return false;
            offset_ += got;
        }
        return state_ == State::Text;
    }

private:
    enum class State {
        Text,
        Open,
        StartName,
        InTag,
        AttrName,
        AttrEquals,
        AttrQuote,
        AttrValue,
        SelfClose,
        EndTag,
        Bang,
        Comment,
        CData,
        Instruction
    };
    static bool Space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    bool scan(const char* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            char c = bytes[i];
            switch (state_) {
            case State::Text: {
                const void* lt = std::memchr(bytes + i, '<', size - i);
                if (!lt)
                    return true;
                i = static_cast<std::size_t>(static_cast<const char*>(lt) - bytes);
                tagStart_ = offset_ + i;
                state_ = State::Open;
                break;
            }
            case State::Open:
                if (c == '/') {
                    state_ = State::EndTag;
                } else if (c == '!') {
                    marker_.clear();
                    state_ = State::Bang;
                } else if (c == '?') {
                    state_ = State::Instruction;
                    match_ = 0;
                } else if (Space(c) || c == '>') {
                    return false;
                } else {
                    name_.assign(1, c);
                    state_ = State::StartName;
                }
                break;
            case State::StartName:
                if (!Space(c) && c != '/' && c != '>') {
                    if (name_.size() < 256)
                        name_ += c;
                    break;
                }
                beginTag();
                if (c == '>')
                    endStartTag(false);
                else
                    state_ = c == '/' ? State::SelfClose : State::InTag;
                break;
            case State::InTag:
                if (c == '>')
                    endStartTag(false);
                else if (c == '/')
                    state_ = State::SelfClose;
                else if (!Space(c)) {
                    attribute_.assign(1, c);
                    state_ = State::AttrName;
                }
                break;
            case State::AttrName:
                if (c == '=')
                    state_ = State::AttrQuote;
                else if (Space(c))
                    state_ = State::AttrEquals;
                else if (attribute_.size() < 256)
                    attribute_ += c;
                break;
            case State::AttrEquals:
                if (c == '=')
                    state_ = State::AttrQuote;
                else if (!Space(c))
                    return false;
                break;
            case State::AttrQuote:
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    value_.clear();
                    capture_ = wanted(LocalName(attribute_.c_str()));
                    state_ = State::AttrValue;
                } else if (!Space(c)) {
                    return false;
                }
                break;
            case State::AttrValue: {
                const void* end = std::memchr(bytes + i, quote_, size - i);
                std::size_t stop =
                    end ? static_cast<std::size_t>(static_cast<const char*>(end) - bytes) : size;
                if (capture_ && value_.size() < 65536)
                    value_.append(bytes + i, std::min(stop - i, 65536 - value_.size()));
                i = stop;
                if (end) {
                    if (capture_ && !attributeValue())
                        return false;
                    state_ = State::InTag;
                }
                break;
            }
            case State::SelfClose:
                if (c != '>')
                    return false;
                endStartTag(true);
                break;
            case State::EndTag:
                if (c == '>') {
                    if (depth_ == spreadsheetDepth_)
                        spreadsheetDepth_ = 0;
                    --depth_;
                    state_ = State::Text;
                }
                break;
            case State::Bang:
                marker_ += c;
                if (marker_ == "--") {
                    state_ = State::Comment;
                    match_ = 0;
                } else if (marker_ == "[CDATA[") {
                    state_ = State::CData;
                    match_ = 0;
                } else if (!std::string_view("[CDATA[").starts_with(marker_) &&
                           !std::string_view("--").starts_with(marker_)) {
                    return false; // a document type declaration has no place in the body
                }
                break;
            case State::Comment:
                match_ = c == '-' ? std::min(match_ + 1, 2) : (c == '>' && match_ == 2 ? 3 : 0);
                if (match_ == 3)
                    state_ = State::Text;
                break;
            case State::CData:
                match_ = c == ']' ? std::min(match_ + 1, 2) : (c == '>' && match_ == 2 ? 3 : 0);
                if (match_ == 3)
                    state_ = State::Text;
                break;
            case State::Instruction:
                match_ = c == '?' ? 1 : (c == '>' && match_ == 1 ? 2 : 0);
                if (match_ == 2)
                    state_ = State::Text;
                break;
            }
        }
        return true;
    }

    void beginTag() {
        std::string_view local = LocalName(name_.c_str());
        const int depth = depth_ + 1;
        sheet_ = spreadsheetDepth_ > 0 && depth == spreadsheetDepth_ + 1 && local == "table";
        nullDate_ = spreadsheetDepth_ > 0 && local == "null-date";
        if (local == "spreadsheet" && !outline_.spreadsheetSeen) {
            outline_.spreadsheetSeen = true;
            outline_.spreadsheetTag = name_;
            spreadsheetDepth_ = depth;
        }
        tableName_.clear();
    }
    bool wanted(std::string_view attribute) const {
        return (sheet_ && attribute == "name") || (nullDate_ && attribute == "date-value");
    }
    // The value as a parser gives it: white space normalised, references resolved.
    bool attributeValue() {
        std::string text;
        for (std::size_t i = 0; i < value_.size(); ++i) {
            char c = value_[i];
            if (c == '\t' || c == '\n' || c == '\r') {
                text += ' ';
                continue;
            }
            if (c != '&') {
                text += c;
                continue;
            }
            std::size_t semicolon = value_.find(';', i);
            if (semicolon == std::string::npos)
                return false;
            std::string_view entity(value_.data() + i + 1, semicolon - i - 1);
            i = semicolon;
            if (entity == "amp")
                text += '&';
            else if (entity == "lt")
                text += '<';
            else if (entity == "gt")
                text += '>';
            else if (entity == "quot")
                text += '"';
            else if (entity == "apos")
                text += '\'';
            else if (!AppendCharacterReference(entity, text))
                return false;
        }
        if (sheet_)
            tableName_ = text;
        else
            outline_.date1904 = text.starts_with("1904-01-01");
        return true;
    }
    static bool AppendCharacterReference(std::string_view entity, std::string& text) {
        if (!entity.starts_with("#"))
            return false;
        std::uint32_t code = 0;
        bool hex = entity.size() > 1 && (entity[1] == 'x' || entity[1] == 'X');
        std::string_view digits = entity.substr(hex ? 2 : 1);
        auto [next, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (error != std::errc() || next != digits.data() + digits.size() || code == 0 ||
            code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }
    void endStartTag(bool empty) {
        if (sheet_)
            outline_.addSheet(tableName_, tagStart_);
        sheet_ = nullDate_ = false;
        if (!empty)
            ++depth_;
        state_ = State::Text;
    }

    Outline& outline_;
    std::uint64_t offset_;
    State state_ = State::Text;
    int depth_ = 1; // the scan starts inside office:document-content
    int spreadsheetDepth_ = 0;
    std::uint64_t tagStart_ = 0;
    std::string name_;
    std::string attribute_;
    std::string value_;
    std::string marker_;
    std::string tableName_;
    char quote_ = '"';
    int match_ = 0;
    bool capture_ = false;
    bool sheet_ = false;
    bool nullDate_ = false;
};

} // namespace

Outline ReadOutline(const ZipPackage& package, OdsDataStyles& styles) {
    Outline outline;
    if (package.has("styles.xml")) {
        Outline unused;
        OutlineEvents events(&styles, unused, false);
        ExpatDriver driver(events);
        StringStream input(package.read("styles.xml"));
        driver.run(input);
    }
    // The head of content.xml (its automatic styles) is parsed; the body only scanned for its
    // worksheets, unless the document has a form the scan does not take for granted.
    bool utf8 = true, doctype = false;
    {
        OutlineEvents events(&styles, outline, true);
        ExpatDriver driver(events);
        events.attach(driver);
        driver.run(*package.stream("content.xml", true));
        utf8 = driver.utf8();
        doctype = driver.doctype();
    }
    outline.tailsUsable = utf8 && !doctype;
    bool scanned = false;
    if (outline.bodyOffset > 0 && outline.tailsUsable) {
        BodyScanner scanner(outline, outline.bodyOffset);
        TailStream body(package.stream("content.xml", true), outline.bodyOffset, "");
        scanned = scanner.run(body);
    }
    if (!scanned) {
        bool tailsUsable = outline.tailsUsable;
        outline = Outline();
        outline.tailsUsable = tailsUsable;
        OutlineEvents events(nullptr, outline, false);
        ExpatDriver driver(events);
        events.attach(driver);
        driver.run(*package.stream("content.xml", true));
    }
    if (!outline.spreadsheetSeen)
        throw Error(std::string(kNotAWorkbook) + ": the document holds no spreadsheet");
    return outline;
}

} // namespace gq::ods
