#include "FuzzSupport.h"

#include "DisplayText.h"
#include "Error.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>

namespace gqfuzz {

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz target setup failed: %s\n", what);
    std::abort();
}

constexpr std::uint32_t kMaxRows = 1048576;
constexpr std::uint32_t kMaxColumns = 16384;

// Shows every cell as the search would and holds the reader to its promises on where cells lie.
class ShowingVisitor : public gq::CellVisitor {
public:
    explicit ShowingVisitor(const gq::StyleTable& styles) : display_(styles) {}

    bool visit(const gq::Cell& cell) override {
        if (cell.row < 1 || cell.row > kMaxRows || cell.col < 1 || cell.col > kMaxColumns)
            Broken("a cell outside the grid", cell);
        if (cell.row < row_ || (cell.row == row_ && cell.col <= col_))
            Broken("a cell out of row-major order", cell);
        row_ = cell.row;
        col_ = cell.col;
        display_.textOf(cell, text_);
        return true;
    }

private:
    [[noreturn]] void Broken(const char* what, const gq::Cell& cell) const {
        std::fprintf(stderr, "reader pushed %s: R%uC%u after R%uC%u\n", what, cell.row, cell.col,
                     row_, col_);
        std::abort();
    }

    gq::DisplayText display_;
    std::string text_;
    std::uint32_t row_ = 0;
    std::uint32_t col_ = 0;
};

} // namespace

PrivateFile::PrivateFile() : fd_(memfd_create("fuzz-input", MFD_CLOEXEC)) {
    if (fd_ < 0)
        Fail("memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

PrivateFile::~PrivateFile() {
    close(fd_);
}

const std::string& PrivateFile::write(std::string_view bytes) {
    if (ftruncate(fd_, 0) != 0)
        Fail("ftruncate");
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            Fail("pwrite");
        done += static_cast<std::size_t>(n);
    }
    return path_;
}

PrivateFile& InputFile() {
    static PrivateFile file;
    return file;
}

Selected Select(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return {};
    return {data[0], std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)};
}

std::string ZipBytes(const std::vector<Part>& parts) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!buffer)
        Fail("zip_source_buffer_create");
    zip_source_keep(buffer); // the archive frees its source on close; the bytes are read after
    zip_t* zip = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    if (!zip)
        Fail("zip_open_from_source");
    for (const Part& part : parts) {
        zip_source_t* content = zip_source_buffer(zip, part.content.data(), part.content.size(), 0);
        zip_int64_t index =
            content ? zip_file_add(zip, part.name.c_str(), content, ZIP_FL_OVERWRITE) : -1;
        if (index < 0 || zip_set_file_compression(zip, index, ZIP_CM_STORE, 0) != 0)
            Fail("zip_file_add");
    }
    if (zip_close(zip) != 0)
        Fail("zip_close");
    std::string bytes;
    zip_stat_t stat;
    if (zip_source_stat(buffer, &stat) != 0 || zip_source_open(buffer) != 0)
        Fail("zip_source_open");
    bytes.resize(stat.size);
    if (zip_source_read(buffer, bytes.data(), bytes.size()) != static_cast<zip_int64_t>(stat.size))
        Fail("zip_source_read");
    zip_source_close(buffer);
    zip_source_free(buffer);
    return bytes;
}

std::string OfficePackage(std::string_view extension, std::string_view workbookContentType,
                          const std::string_view (&parts)[kOfficeParts]) {
    const std::string ext(extension);
    const std::string relationship = R"(<Relationship Type="http://schemas.openxmlformats.org/)"
                                     R"(officeDocument/2006/relationships/)";
    const std::string contentTypes =
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" )"
        R"(ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/>)"
        R"(<Override PartName="/xl/workbook.)" +
        ext + R"(" ContentType=")" + std::string(workbookContentType) + R"("/></Types>)";
    const std::string relationshipsHead =
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";
    const std::string rootRelationships = relationshipsHead + relationship +
                                          R"(officeDocument" Id="rId1" Target="xl/workbook.)" +
                                          ext + R"("/></Relationships>)";
    const std::string workbookRelationships =
        relationshipsHead + relationship + R"(worksheet" Id="rId1" Target="worksheets/sheet1.)" +
        ext + R"("/>)" + relationship + R"(sharedStrings" Id="rId2" Target="sharedStrings.)" + ext +
        R"("/>)" + relationship + R"(styles" Id="rId3" Target="styles.)" + ext +
        R"("/></Relationships>)";
    return ZipBytes({
        {"[Content_Types].xml", contentTypes},
        {"_rels/.rels", rootRelationships},
        {"xl/_rels/workbook." + ext + ".rels", workbookRelationships},
        {"xl/worksheets/sheet1." + ext, parts[Worksheet]},
        {"xl/sharedStrings." + ext, parts[SharedStrings]},
        {"xl/styles." + ext, parts[Styles]},
        {"xl/workbook." + ext, parts[Workbook]},
    });
}

void ReadWorkbook(ReaderOpener open, const std::string& path) {
    try {
        std::unique_ptr<gq::FormatReader> reader = open(path);
        for (std::size_t sheet = 0; sheet < reader->worksheetNames().size(); ++sheet) {
            ShowingVisitor visitor(reader->styles());
            reader->readCells(sheet, visitor);
        }
    } catch (const gq::Error&) {
    }
}

} // namespace gqfuzz
