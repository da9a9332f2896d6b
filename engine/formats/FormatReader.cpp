#include "FormatReader.h"

#include "DelimitedTextReader.h"
#include "Error.h"
#include "OdsReader.h"
#include "OpcPackage.h"
#include "TextEncoding.h"
#include "XlsReader.h"
#include "XlsbReader.h"
#include "XlsxReader.h"
#include "ZipPackage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gq {

namespace {

enum class Container { Zip, Ole, BareBiff, Text, Unknown };

Container Sniff(const std::string& head) {
    static const char kOle[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    if (head.size() >= 8 && std::memcmp(head.data(), kOle, 8) == 0)
        return Container::Ole;
    if (head.size() >= 4 && std::memcmp(head.data(), "PK\x03\x04", 4) == 0)
        return Container::Zip;
    // The BOF record that opens a worksheet file of the oldest binary versions (no container).
    if (head.size() >= 4 && head[0] == 0x09 &&
        (head[1] == 0x00 || head[1] == 0x02 || head[1] == 0x04 || head[1] == 0x08) &&
        static_cast<unsigned char>(head[2]) <= 20 && head[3] == 0)
        return Container::BareBiff;
    return text::LooksLikeText(head) ? Container::Text : Container::Unknown;
}

// The file opened once, and its first bytes to tell its format by.
struct Head {
    FileDescriptor file;
    std::string bytes;
};

Head ReadHead(const std::string& path) {
    // The path's own bytes: a name that is not UTF-8 must still be found.
    Head head{FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), {}};
    struct stat info;
    if (!head.file.valid()) {
        if (::stat(path.c_str(), &info) != 0)
            throw Error("The file does not exist");
        if (S_ISDIR(info.st_mode))
            throw Error("The path is a folder, not a file");
        throw Error(kCannotBeRead);
    }
    // Read, not pread: a pipe has its first bytes too. A folder opens, but does not read.
    head.bytes.resize(4096);
    std::size_t size = 0;
    while (size < head.bytes.size()) {
        const ssize_t got =
            ::read(head.file.get(), head.bytes.data() + size, head.bytes.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EISDIR)
            throw Error("The path is a folder, not a file");
        if (got <= 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    head.bytes.resize(size);
    return head;
}

} // namespace

std::unique_ptr<FormatReader> OpenFormatReader(const std::string& path) {
    Head head = ReadHead(path);
    switch (Sniff(head.bytes)) {
    case Container::Ole:
    case Container::BareBiff:
        return OpenXlsReader(path, std::move(head.file));
    case Container::Zip: {
        ZipPackage package(path, std::move(head.file));
        if (package.has("content.xml") && !package.has("[Content_Types].xml"))
            return OpenOdsReader(std::move(package));
        std::string workbookPart = OfficeDocumentPart(package);
        if (workbookPart.size() > 4 &&
            workbookPart.compare(workbookPart.size() - 4, 4, ".bin") == 0)
            return OpenXlsbReader(std::move(package));
        return OpenXlsxReader(std::move(package));
    }
    case Container::Text:
        if (head.bytes.empty())
            throw Error("The file is empty");
        return OpenDelimitedTextReader(path);
    case Container::Unknown:
        break;
    }
    throw Error(kNotAWorkbook);
}

} // namespace gq
