#include "ZipPackage.h"

#include "Error.h"

#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace gq {

namespace {

// The package's bytes when it is a regular file of at most kReadWholeBytes, read whole (in a
// buffer malloc() gave, for libzip to free), or nullptr. A file that changes while it is read is
// left to libzip.
void* ReadWholeSmallFile(const std::string& path, std::size_t& size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    void* bytes = nullptr;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        static_cast<std::uint64_t>(info.st_size) <= ZipPackage::kReadWholeBytes) {
        size = static_cast<std::size_t>(info.st_size);
        bytes = std::malloc(size + 1); // one byte more shows the end
        std::size_t filled = 0;
        for (ssize_t got; bytes && filled <= size; filled += static_cast<std::size_t>(got)) {
            got = ::read(fd, static_cast<char*>(bytes) + filled, size + 1 - filled);
            if (got <= 0)
                break;
        }
        if (filled != size) {
            std::free(bytes);
            bytes = nullptr;
        }
    }
    ::close(fd);
    return bytes;
}

// libzip reads a file with a seek before every read, which for a search of many small workbooks
// costs more system calls than data: a small package is read into memory first.
zip_t* OpenZip(const std::string& path) {
    std::size_t size = 0;
    if (void* bytes = ReadWholeSmallFile(path, size)) {
        zip_error_t error;
        zip_error_init(&error);
        zip_t* zip = nullptr;
        if (zip_source_t* source = zip_source_buffer_create(bytes, size, 1, &error)) {
            zip = zip_open_from_source(source, ZIP_RDONLY, &error);
            if (!zip)
                zip_source_free(source); // frees the bytes too
        } else {
            std::free(bytes);
        }
        zip_error_fini(&error);
        if (!zip)
            throw Error(kNotAWorkbook);
        return zip;
    }
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!zip)
        throw Error(kNotAWorkbook);
    return zip;
}

std::uint64_t InflateLimit(std::uint64_t compressedSize) {
    std::uint64_t byRatio = compressedSize > ZipPackage::kMaxPartBytes / ZipPackage::kBombRatio
                                ? ZipPackage::kMaxPartBytes
                                : compressedSize * ZipPackage::kBombRatio;
    return std::min(ZipPackage::kMaxPartBytes, std::max(ZipPackage::kBombFloorBytes, byRatio));
}

[[noreturn]] void ThrowBomb() {
    throw Error("The file is damaged or is not a workbook: a part inflates far beyond its "
                "compressed size (a decompression bomb)");
}

struct ZipDiscard {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// One part read on the calling thread. Deflated parts are inflated by ISA-L from the raw data
// libzip hands over, with the CRC-32 checked here; stored parts and the rarer methods go through
// libzip, which checks the CRC-32 itself. Either way the part may give no more than its header
// declares, so a lying header cannot hide a bomb.
class DirectStream : public ByteStream {
public:
    DirectStream(zip_t* zip, zip_uint64_t index) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        constexpr zip_uint64_t kNeeded = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE |
                                         ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
        if (zip_stat_index(zip, index, 0, &stat) != 0 || (stat.valid & kNeeded) != kNeeded)
            throw Error(kNotAWorkbook);
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            throw Error(kPasswordProtected);
        name_ = stat.name;
        size_ = stat.size;
        crc_ = stat.crc;
        if (size_ > InflateLimit(stat.comp_size))
            ThrowBomb();
        if (stat.comp_method == ZIP_CM_DEFLATE) {
            // Most parts are small: zeroing an 87 KB state and a full chunk for each cost a
            // search of many small workbooks more than their reading. isal_inflate_init sets up
            // what inflating reads.
            inflater_ = std::make_unique_for_overwrite<inflate_state>();
            isal_inflate_init(inflater_.get());
            inflater_->crc_flag = ISAL_GZIP_NO_HDR; // raw deflate; CRC-32 of the output
            compressed_.resize(static_cast<std::size_t>(
                std::clamp<zip_uint64_t>(stat.comp_size, 1, kCompressedChunk)));
        }
        file_.reset(zip_fopen_index(zip, index, inflater_ ? ZIP_FL_COMPRESSED : 0));
        if (!file_)
            throw Error(kNotAWorkbook);
    }

    std::size_t read(char* buffer, std::size_t size) override {
        std::size_t got = inflater_ ? inflate(buffer, size) : readThroughLibzip(buffer, size);
        total_ += got;
        if (total_ > size_ || (got == 0 && total_ != size_))
            throwDamaged("is not the size its header declares");
        if (got == 0 && inflater_ && inflater_->crc != crc_)
            throwDamaged("is damaged: its checksum does not match");
        return got;
    }

    std::uint64_t declaredSize() const { return size_; }

private:
    static constexpr std::size_t kCompressedChunk = 1 << 17;

    [[noreturn]] void throwDamaged(const char* what) const {
        throw Error(std::string(kNotAWorkbook) + ": the part " + name_ + " " + what);
    }

    std::size_t inflate(char* buffer, std::size_t size) {
        inflate_state& state = *inflater_;
        auto room = static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
        state.next_out = reinterpret_cast<std::uint8_t*>(buffer);
        state.avail_out = room;
        while (state.avail_out > 0 && state.block_state != ISAL_BLOCK_FINISH) {
            if (state.avail_in == 0 && !compressedEnded_) {
                zip_int64_t got = zip_fread(file_.get(), compressed_.data(), compressed_.size());
                if (got < 0)
                    throwDamaged("is damaged");
                compressedEnded_ = got == 0;
                state.next_in = compressed_.data();
                state.avail_in = static_cast<std::uint32_t>(got);
            }
            std::uint32_t inBefore = state.avail_in, outBefore = state.avail_out;
            if (isal_inflate(&state) < 0)
                throwDamaged("is damaged: its compressed data is invalid");
            bool progressed = state.avail_in != inBefore || state.avail_out != outBefore;
            if (!progressed && state.block_state != ISAL_BLOCK_FINISH)
                throwDamaged(compressedEnded_ ? "is cut off"
                                              : "is damaged: its compressed data is invalid");
        }
        return room - state.avail_out;
    }

    std::size_t readThroughLibzip(char* buffer, std::size_t size) {
        zip_int64_t got = zip_fread(file_.get(), buffer, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        switch (zip_error_code_zip(zip_file_get_error(file_.get()))) {
        case ZIP_ER_CRC:
            throwDamaged("is damaged: its checksum does not match");
        case ZIP_ER_INCONS:
            throwDamaged("is not the size its header declares");
        default:
            throwDamaged("is damaged");
        }
    }

    std::string name_;
    std::uint64_t size_ = 0;
    std::uint32_t crc_ = 0;
    std::unique_ptr<inflate_state> inflater_;
    std::vector<std::uint8_t> compressed_;
    bool compressedEnded_ = false;
    std::unique_ptr<zip_file_t, ZipFileClose> file_;
    std::uint64_t total_ = 0;
};

// Inflates on a second thread into a small ring of chunks, so inflating and parsing overlap.
class ReadAheadStream : public ByteStream {
public:
    // A package handle of its own, as a libzip handle serves one thread at a time.
    ReadAheadStream(const std::string& path, zip_uint64_t index)
        : zip_(OpenZip(path)), source_(zip_.get(), index), worker_([this] { run(); }) {}

    ~ReadAheadStream() override {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }

    std::size_t read(char* buffer, std::size_t size) override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return filled_ > 0 || finished_; });
        if (filled_ == 0) {
            if (!failure_.empty())
                throw Error(failure_);
            return 0;
        }
        Chunk& chunk = chunks_[head_];
        std::size_t n = std::min(size, chunk.size - chunk.offset);
        std::memcpy(buffer, chunk.bytes.data() + chunk.offset, n);
        chunk.offset += n;
        if (chunk.offset == chunk.size) {
            head_ = (head_ + 1) % kChunks;
            --filled_;
            changed_.notify_all();
        }
        return n;
    }

private:
    static constexpr std::size_t kChunks = 4;
    static constexpr std::size_t kChunkBytes = 1 << 18;
    struct Chunk {
        std::vector<char> bytes = std::vector<char>(kChunkBytes);
        std::size_t size = 0;
        std::size_t offset = 0;
    };

    void run() {
        std::size_t tail = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return filled_ < kChunks || cancelled_; });
                if (cancelled_)
                    return;
            }
            // The slot at `tail` is free and only this thread touches it until it is published.
            Chunk& chunk = chunks_[tail];
            std::size_t got = 0;
            std::string failure;
            try {
                got = source_.read(chunk.bytes.data(), kChunkBytes);
            } catch (const Error& error) {
                failure = error.what();
            }
            std::lock_guard lock(mutex_);
            if (got == 0) {
                finished_ = true;
                failure_ = failure;
                changed_.notify_all();
                return;
            }
            chunk.size = got;
            chunk.offset = 0;
            tail = (tail + 1) % kChunks;
            ++filled_;
            changed_.notify_all();
        }
    }

    std::unique_ptr<zip_t, ZipDiscard> zip_;
    DirectStream source_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Chunk chunks_[kChunks];
    std::size_t head_ = 0;
    std::size_t filled_ = 0;
    bool finished_ = false;
    bool cancelled_ = false;
    std::string failure_;
    std::thread worker_; // last: starts once everything above exists
};

} // namespace

void ReadLocalTimeZoneOnce() {
    setenv("TZ", ":/etc/localtime", 0);
}

ZipPackage::ZipPackage(const std::string& path) : path_(path), zip_(OpenZip(path)) {}

ZipPackage::ZipPackage(ZipPackage&& other) noexcept
    : path_(std::move(other.path_)), zip_(std::exchange(other.zip_, nullptr)) {}

ZipPackage::~ZipPackage() {
    if (zip_)
        zip_discard(zip_);
}

std::int64_t ZipPackage::indexOf(const std::string& name) const {
    std::string wanted = name;
    if (!wanted.empty() && wanted.front() == '/')
        wanted.erase(0, 1);
    return zip_name_locate(zip_, wanted.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_RAW);
}

bool ZipPackage::has(const std::string& name) const {
    return indexOf(name) >= 0;
}

std::string ZipPackage::read(const std::string& name, std::uint64_t limit) const {
    std::int64_t index = indexOf(name);
    if (index < 0)
        throw Error(std::string(kNotAWorkbook) + ": the part " + name + " is missing");
    DirectStream input(zip_, static_cast<zip_uint64_t>(index));
    if (input.declaredSize() > limit)
        ThrowBomb();
    // The stream gives no more than the declared size; the byte of room past it lets the end show
    // as a read of nothing.
    std::string bytes(input.declaredSize() + 1, '\0');
    std::size_t filled = 0;
    while (std::size_t got = input.read(bytes.data() + filled, bytes.size() - filled))
        filled += got;
    bytes.resize(filled);
    return bytes;
}

std::optional<std::uint64_t> ZipPackage::declaredSize(const std::string& name) const {
    std::int64_t index = indexOf(name);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (index < 0 || zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
        !(stat.valid & ZIP_STAT_SIZE))
        return std::nullopt;
    return stat.size;
}

bool ZipPackage::isLarge(const std::string& name) const {
    const std::optional<std::uint64_t> size = declaredSize(name);
    return !size || *size >= kReadAheadMinBytes;
}

std::unique_ptr<ByteStream> ZipPackage::stream(const std::string& name, bool readAhead) const {
    std::int64_t index = indexOf(name);
    if (index < 0)
        throw Error(std::string(kNotAWorkbook) + ": the part " + name + " is missing");
    if (readAhead && isLarge(name))
        return std::make_unique<ReadAheadStream>(path_, static_cast<zip_uint64_t>(index));
    return std::make_unique<DirectStream>(zip_, static_cast<zip_uint64_t>(index));
}

} // namespace gq
