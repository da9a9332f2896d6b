#include "ZipPackage.h"

#include "Error.h"

#include <zip.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace gq {

namespace {

zip_t* OpenZip(const std::string& path) {
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

// One part inflated on the calling thread.
class DirectStream : public ByteStream {
public:
    DirectStream(zip_t* zip, zip_uint64_t index, bool ownsZip) : zip_(zip), ownsZip_(ownsZip) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip, index, 0, &stat) != 0)
            throw Error(kNotAWorkbook);
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            throw Error(kPasswordProtected);
        limit_ = InflateLimit((stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0);
        file_ = zip_fopen_index(zip, index, 0);
        if (!file_)
            throw Error(kNotAWorkbook);
    }
    ~DirectStream() override {
        if (file_)
            zip_fclose(file_);
        if (ownsZip_)
            zip_discard(zip_);
    }

    std::size_t read(char* buffer, std::size_t size) override {
        zip_int64_t got = zip_fread(file_, buffer, size);
        if (got < 0)
            throw Error(kNotAWorkbook);
        total_ += static_cast<std::uint64_t>(got);
        if (total_ > limit_)
            ThrowBomb();
        return static_cast<std::size_t>(got);
    }

private:
    zip_t* zip_;
    bool ownsZip_;
    zip_file_t* file_ = nullptr;
    std::uint64_t limit_ = 0;
    std::uint64_t total_ = 0;
};

// Inflates on a second thread into a small ring of chunks, so inflating and parsing overlap.
class ReadAheadStream : public ByteStream {
public:
    ReadAheadStream(const std::string& path, zip_uint64_t index)
        : source_(OpenZip(path), index, true), worker_([this] { run(); }) {}

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

ZipPackage::ZipPackage(const std::string& path) : path_(path), zip_(OpenZip(path)) {}

ZipPackage::~ZipPackage() {
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
    DirectStream input(zip_, static_cast<zip_uint64_t>(index), false);
    std::string bytes;
    char buffer[1 << 16];
    while (std::size_t got = input.read(buffer, sizeof buffer)) {
        if (bytes.size() + got > limit)
            ThrowBomb();
        bytes.append(buffer, got);
    }
    return bytes;
}

bool ZipPackage::isLarge(const std::string& name) const {
    std::int64_t index = indexOf(name);
    zip_stat_t stat;
    zip_stat_init(&stat);
    return index < 0 || zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
           !(stat.valid & ZIP_STAT_SIZE) || stat.size >= kReadAheadMinBytes;
}

std::unique_ptr<ByteStream> ZipPackage::stream(const std::string& name, bool readAhead) const {
    std::int64_t index = indexOf(name);
    if (index < 0)
        throw Error(std::string(kNotAWorkbook) + ": the part " + name + " is missing");
    if (readAhead && isLarge(name))
        return std::make_unique<ReadAheadStream>(path_, static_cast<zip_uint64_t>(index));
    return std::make_unique<DirectStream>(zip_, static_cast<zip_uint64_t>(index), false);
}

} // namespace gq
