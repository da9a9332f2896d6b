#include "ZipPackage.h"

#include "CaseMapping.h"
#include "Error.h"
#include "LittleEndian.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace gq {

// The package file and its central directory, shared by the package and the streams of its
// parts. Bytes are read with pread, which any thread may call at once; a small file is read
// into memory whole, as a search of many small workbooks would otherwise cost more system calls
// than data.
struct ZipArchive {
    struct Entry {
        std::string name; // as stored, bytes unchanged
        std::uint64_t compressedSize = 0, size = 0, headerOffset = 0;
        std::uint32_t crc = 0;
        std::uint16_t flags = 0, method = 0;
    };

    // Reads `file` when it is open already, else opens `path`.
    ZipArchive(const std::string& path, FileDescriptor file);

    // Exactly `count` bytes at `offset`; false where the file holds fewer.
    bool readAt(std::uint64_t offset, void* out, std::size_t count) const;
    // The same bytes where they lie in memory, else read into `scratch`; null where the file
    // holds fewer.
    const unsigned char* bytesAt(std::uint64_t offset, std::size_t count,
                                 std::vector<unsigned char>& scratch) const;

    // Closed however the archive ends, a constructor that throws included.
    FileDescriptor fd;
    std::uint64_t fileSize = 0;
    std::unique_ptr<unsigned char[]> whole; // the file's bytes, when it is small
    std::vector<Entry> entries;
    // Where each name first stands, lower-cased, for a package of many entries; a few are
    // looked through instead.
    std::unordered_map<std::string, std::size_t> firstOfName;
    static constexpr std::size_t kLookedThrough = 32;

private:
    void readCentralDirectory();
};

namespace {

constexpr std::uint32_t kCentralHeader = 0x02014b50, kEndOfDirectory = 0x06054b50,
                        kEndOfDirectory64 = 0x06064b50, kEndLocator64 = 0x07064b50;
constexpr std::uint16_t kStored = 0, kDeflated = 8;
constexpr std::uint16_t kEncrypted = 0x0001; // set by every kind of encryption

[[noreturn]] void ThrowNotAWorkbook() {
    throw Error(kNotAWorkbook);
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

// One part read on the calling thread: a deflated part inflated by ISA-L, a stored part read as
// it lies, the CRC-32 checked at the end. Either way the part may give no more than its header
// declares, so a lying header cannot hide a bomb.
class DirectStream : public ByteStream {
public:
    DirectStream(std::shared_ptr<const ZipArchive> archive, std::size_t index)
        : archive_(std::move(archive)), entry_(archive_->entries[index]) {
        if (entry_.flags & kEncrypted)
            throw Error(kPasswordProtected);
        if (entry_.size > InflateLimit(entry_.compressedSize))
            ThrowBomb();
        if (entry_.size == 0 && entry_.compressedSize == 0) {
            storedCrc_ = entry_.crc; // an empty part (a folder) has nothing to read or check
            return;
        }
        if (entry_.method != kStored && entry_.method != kDeflated)
            ThrowNotAWorkbook();
        // The data follows the local header, whose name and extra field may differ in length
        // from the central directory's; nothing else of it counts, its signature included.
        unsigned char header[30];
        if (!archive_->readAt(entry_.headerOffset, header, sizeof header))
            throwDamaged("is damaged");
        offset_ = entry_.headerOffset + sizeof header + U16(header + 26) + U16(header + 28);
        if (offset_ > archive_->fileSize)
            throwDamaged("is damaged");
        // A deflate stream ends by itself: one whose size is overstated still reads.
        left_ = std::min(entry_.compressedSize, archive_->fileSize - offset_);
        if (entry_.method == kDeflated) {
            // Most parts are small: zeroing an 87 KB state and a full chunk for each cost a
            // search of many small workbooks more than their reading. isal_inflate_init sets up
            // what inflating reads.
            inflater_ = std::make_unique_for_overwrite<inflate_state>();
            isal_inflate_init(inflater_.get());
            inflater_->crc_flag = ISAL_GZIP_NO_HDR; // raw deflate; CRC-32 of the output
        }
    }

    std::size_t read(char* buffer, std::size_t size) override {
        std::size_t got = inflater_ ? inflate(buffer, size) : readStored(buffer, size);
        total_ += got;
        if (total_ > entry_.size || (got == 0 && total_ != entry_.size))
            throwDamaged("is not the size its header declares");
        if (got == 0 && (inflater_ ? inflater_->crc : storedCrc_) != entry_.crc)
            throwDamaged("is damaged: its checksum does not match");
        return got;
    }

    std::uint64_t declaredSize() const { return entry_.size; }

private:
    static constexpr std::size_t kCompressedChunk = 1 << 17;

    [[noreturn]] void throwDamaged(const char* what) const {
        throw Error(std::string(kNotAWorkbook) + ": the part " + entry_.name + " " + what);
    }

    std::size_t readStored(char* buffer, std::size_t size) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, left_));
        if (!archive_->readAt(offset_, buffer, count))
            throwDamaged("is cut off");
        offset_ += count;
        left_ -= count;
        storedCrc_ = crc32_gzip_refl(storedCrc_, reinterpret_cast<unsigned char*>(buffer), count);
        return count;
    }

    std::size_t inflate(char* buffer, std::size_t size) {
        inflate_state& state = *inflater_;
        auto room = static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
        state.next_out = reinterpret_cast<std::uint8_t*>(buffer);
        state.avail_out = room;
        while (state.avail_out > 0 && state.block_state != ISAL_BLOCK_FINISH) {
            if (state.avail_in == 0 && left_ > 0) {
                const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(
                    left_, archive_->whole ? UINT32_MAX : kCompressedChunk));
                state.next_in =
                    const_cast<std::uint8_t*>(archive_->bytesAt(offset_, count, compressed_));
                if (!state.next_in)
                    throwDamaged("is cut off");
                state.avail_in = static_cast<std::uint32_t>(count);
                offset_ += count;
                left_ -= count;
            }
            std::uint32_t inBefore = state.avail_in, outBefore = state.avail_out;
            if (isal_inflate(&state) < 0)
                throwDamaged("is damaged: its compressed data is invalid");
            bool progressed = state.avail_in != inBefore || state.avail_out != outBefore;
            if (!progressed && state.block_state != ISAL_BLOCK_FINISH)
                throwDamaged(left_ == 0 ? "is cut off"
                                        : "is damaged: its compressed data is invalid");
        }
        return room - state.avail_out;
    }

    std::shared_ptr<const ZipArchive> archive_;
    const ZipArchive::Entry& entry_;
    std::uint64_t offset_ = 0; // of the next stored or compressed byte in the file
    std::uint64_t left_ = 0;   // stored or compressed bytes not yet taken
    std::unique_ptr<inflate_state> inflater_;
    std::vector<std::uint8_t> compressed_; // a chunk of them, when the file is not in memory
    std::uint32_t storedCrc_ = 0;
    std::uint64_t total_ = 0;
};

// Inflates ahead of its reader into a small ring of chunks, so that inflating overlaps the parse:
// on a thread of its own, or in the time of threads that would otherwise wait (fillAhead). A
// reader that finds the ring empty inflates the next chunk itself, into its own buffer when that
// takes one. Whoever inflates, the part is inflated chunk by chunk, so a damaged part gives the
// same bytes before its error every time.
class ReadAheadStream : public ByteStream {
public:
    ReadAheadStream(std::shared_ptr<const ZipArchive> archive, std::size_t index, bool ownThread)
        : source_(std::move(archive), index) {
        if (ownThread)
            worker_ = std::thread([this] { run(); });
    }

    ~ReadAheadStream() override {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        changed_.notify_all();
        if (worker_.joinable())
            worker_.join();
    }

    std::size_t read(char* buffer, std::size_t size) override {
        std::unique_lock lock(mutex_);
        while (filled_ == 0) {
            if (finished_) {
                if (!failure_.empty())
                    throw Error(failure_);
                return 0;
            }
            if (inflating_) {
                changed_.wait(lock);
                continue;
            }
            // Nothing inflated ahead and nobody at it: the reader's own turn, straight into its
            // buffer when that takes a whole chunk.
            if (size < kChunkBytes) {
                lock.unlock();
                fillAhead();
                lock.lock();
                continue;
            }
            inflating_ = true;
            lock.unlock();
            std::string failure;
            const std::size_t got = inflateChunk(buffer, failure);
            lock.lock();
            inflated(got, failure);
            if (!failure.empty())
                throw Error(failure);
            return got;
        }
        // The head chunk is the reader's until it hands it back: a helper fills only free slots.
        Chunk& chunk = chunks_[head_];
        lock.unlock();
        std::size_t n = std::min(size, chunk.size - chunk.offset);
        std::memcpy(buffer, chunk.bytes.get() + chunk.offset, n);
        chunk.offset += n;
        if (chunk.offset == chunk.size) {
            lock.lock();
            head_ = (head_ + 1) % kChunks;
            --filled_;
            changed_.notify_all();
        }
        return n;
    }

    bool fillAhead() override {
        std::size_t slot;
        {
            std::lock_guard lock(mutex_);
            if (inflating_ || finished_ || cancelled_ || filled_ == kChunks)
                return false;
            inflating_ = true;
            slot = (head_ + filled_) % kChunks;
        }
        // The slot is free and only this thread touches it until it is published.
        Chunk& chunk = chunks_[slot];
        std::string failure;
        const std::size_t got = inflateChunk(chunk.bytes.get(), failure);
        std::lock_guard lock(mutex_);
        if (got != 0) {
            chunk.size = got;
            chunk.offset = 0;
            ++filled_;
        }
        inflated(got, failure);
        return true;
    }

private:
    // Each inflate call keeps the last 32 KB of its output as the next one's history, a copy that
    // smaller chunks repeat more often; more or larger chunks cost pages first touched for no
    // gain, as whoever reads ahead keeps two filled.
    static constexpr std::size_t kChunks = 2;
    static constexpr std::size_t kChunkBytes = 1 << 17;
    struct Chunk {
        // Not zeroed: a page first touched costs more than the bytes inflated into it.
        std::unique_ptr<char[]> bytes = std::make_unique_for_overwrite<char[]>(kChunkBytes);
        std::size_t size = 0;
        std::size_t offset = 0;
    };

    // The next chunk, with the lock released, by whoever set `inflating_`: every call inflates a
    // whole chunk, so the part breaks into the same chunks whoever inflates them.
    std::size_t inflateChunk(char* into, std::string& failure) {
        try {
            return source_.read(into, kChunkBytes);
        } catch (const Error& error) {
            failure = error.what();
            return 0;
        }
    }

    // Under the lock again, after inflateChunk: the part's end or failure is everyone's.
    void inflated(std::size_t got, const std::string& failure) {
        inflating_ = false;
        if (got == 0) {
            finished_ = true;
            failure_ = failure;
        }
        changed_.notify_all();
    }

    void run() {
        for (;;) {
            if (fillAhead())
                continue;
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] {
                return (filled_ < kChunks && !inflating_) || finished_ || cancelled_;
            });
            if (finished_ || cancelled_)
                return;
        }
    }

    DirectStream source_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Chunk chunks_[kChunks];
    std::size_t head_ = 0;
    std::size_t filled_ = 0;
    bool inflating_ = false;
    bool finished_ = false;
    bool cancelled_ = false;
    std::string failure_;
    std::thread worker_; // last: starts once everything above exists
};

} // namespace

std::size_t MemoryStream::read(char* buffer, std::size_t size) {
    const std::size_t n = std::min(size, bytes_.size() - offset_);
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return n;
}

bool ZipArchive::readAt(std::uint64_t offset, void* out, std::size_t count) const {
    if (offset > fileSize || count > fileSize - offset)
        return false;
    if (whole) {
        std::memcpy(out, whole.get() + offset, count);
        return true;
    }
    for (std::size_t done = 0; done < count;) {
        const ssize_t got = ::pread(fd.get(), static_cast<char*>(out) + done, count - done,
                                    static_cast<off_t>(offset + done));
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

const unsigned char* ZipArchive::bytesAt(std::uint64_t offset, std::size_t count,
                                         std::vector<unsigned char>& scratch) const {
    if (offset > fileSize || count > fileSize - offset)
        return nullptr;
    if (whole)
        return whole.get() + offset;
    scratch.resize(std::max<std::size_t>(count, 1)); // never null, even for nothing
    return readAt(offset, scratch.data(), count) ? scratch.data() : nullptr;
}

ZipArchive::ZipArchive(const std::string& path, FileDescriptor file) : fd(std::move(file)) {
    if (!fd.valid())
        fd = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        ThrowNotAWorkbook();
    fileSize = static_cast<std::uint64_t>(info.st_size);
    if (fileSize <= ZipPackage::kReadWholeBytes) {
        auto bytes = std::make_unique_for_overwrite<unsigned char[]>(fileSize);
        if (!readAt(0, bytes.get(), static_cast<std::size_t>(fileSize)))
            ThrowNotAWorkbook(); // it changed while it was read
        whole = std::move(bytes);
    }
    readCentralDirectory();
}

// The end of the central directory is found from the file's end, past a comment of up to 64 KB;
// Zip64's record stands in for it when its locator precedes it. Entries keep their order.
void ZipArchive::readCentralDirectory() {
    static constexpr std::size_t kEndBytes = 22, kLocatorBytes = 20, kEnd64Bytes = 56;
    static constexpr std::size_t kCentralBytes = 46;
    if (fileSize < kEndBytes)
        ThrowNotAWorkbook();
    const auto tailSize = static_cast<std::size_t>(
        std::min<std::uint64_t>(fileSize, kEndBytes + 0xFFFF + kLocatorBytes));
    std::vector<unsigned char> tailBytes, directoryBytes;
    const unsigned char* const tail = bytesAt(fileSize - tailSize, tailSize, tailBytes);
    if (!tail)
        ThrowNotAWorkbook();
    // The last end record whose comment reaches no further than the file.
    std::size_t end = tailSize - kEndBytes + 1;
    do {
        if (end-- == 0)
            ThrowNotAWorkbook();
    } while (U32(&tail[end]) != kEndOfDirectory ||
             end + kEndBytes + U16(&tail[end + 20]) > tailSize);
    const unsigned char* record = &tail[end];
    std::uint64_t count = U16(record + 10), directorySize = U32(record + 12),
                  directoryOffset = U32(record + 16);
    if (U16(record + 4) != 0 || U16(record + 6) != 0 || U16(record + 8) != count)
        ThrowNotAWorkbook(); // split over several disks
    if (end >= kLocatorBytes && U32(&tail[end - kLocatorBytes]) == kEndLocator64) {
        unsigned char end64[kEnd64Bytes];
        if (!readAt(U64(&tail[end - kLocatorBytes + 8]), end64, sizeof end64) ||
            U32(end64) != kEndOfDirectory64 || U64(end64 + 24) != U64(end64 + 32))
            ThrowNotAWorkbook();
        count = U64(end64 + 32);
        directorySize = U64(end64 + 40);
        directoryOffset = U64(end64 + 48);
    }
    if (directorySize > fileSize || count > directorySize / kCentralBytes)
        ThrowNotAWorkbook();
    const unsigned char* const directory =
        bytesAt(directoryOffset, static_cast<std::size_t>(directorySize), directoryBytes);
    if (!directory)
        ThrowNotAWorkbook();
    entries.resize(static_cast<std::size_t>(count));
    std::size_t at = 0;
    for (Entry& entry : entries) {
        const unsigned char* p = directory + at;
        if (directorySize - at < kCentralBytes || U32(p) != kCentralHeader)
            ThrowNotAWorkbook();
        const std::size_t nameSize = U16(p + 28), extraSize = U16(p + 30),
                          commentSize = U16(p + 32);
        if (directorySize - at - kCentralBytes < nameSize + extraSize + commentSize)
            ThrowNotAWorkbook();
        entry.flags = U16(p + 8);
        entry.method = U16(p + 10);
        entry.crc = U32(p + 16);
        entry.compressedSize = U32(p + 20);
        entry.size = U32(p + 24);
        entry.headerOffset = U32(p + 42);
        entry.name.assign(reinterpret_cast<const char*>(p + kCentralBytes), nameSize);
        // Zip64's extra field holds, in this order, each of the three that is all ones here.
        const unsigned char* extra = p + kCentralBytes + nameSize;
        for (std::size_t e = 0; e + 4 <= extraSize;) {
            const std::size_t id = U16(extra + e), size = U16(extra + e + 2);
            if (e + 4 + size > extraSize)
                break;
            if (id == 1) {
                std::size_t field = e + 4;
                for (std::uint64_t* value :
                     {&entry.size, &entry.compressedSize, &entry.headerOffset})
                    if (*value == 0xFFFFFFFF) {
                        if (field + 8 > e + 4 + size)
                            ThrowNotAWorkbook();
                        *value = U64(extra + field);
                        field += 8;
                    }
            }
            e += 4 + size;
        }
        at += kCentralBytes + nameSize + extraSize + commentSize;
    }
    if (entries.size() > kLookedThrough)
        for (std::size_t i = 0; i < entries.size(); ++i)
            firstOfName.emplace(AsciiLower(entries[i].name), i);
}

ZipPackage::ZipPackage(const std::string& path, FileDescriptor file)
    : path_(path), archive_(std::make_shared<const ZipArchive>(path, std::move(file))) {}

ZipPackage::ZipPackage(ZipPackage&& other) noexcept = default;
ZipPackage::~ZipPackage() = default;

std::int64_t ZipPackage::indexOf(const std::string& name) const {
    std::string_view wanted = name;
    if (!wanted.empty() && wanted.front() == '/')
        wanted.remove_prefix(1);
    const std::string lowered = AsciiLower(std::string(wanted));
    if (!archive_->firstOfName.empty()) {
        const auto found = archive_->firstOfName.find(lowered);
        return found == archive_->firstOfName.end() ? -1 : static_cast<std::int64_t>(found->second);
    }
    const auto& entries = archive_->entries;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name.size() == lowered.size() && AsciiLower(entries[i].name) == lowered)
            return static_cast<std::int64_t>(i);
    return -1;
}

bool ZipPackage::has(const std::string& name) const {
    return indexOf(name) >= 0;
}

std::size_t ZipPackage::partIndex(const std::string& name) const {
    const std::int64_t index = indexOf(name);
    if (index < 0)
        throw Error(std::string(kNotAWorkbook) + ": the part " + name + " is missing");
    return static_cast<std::size_t>(index);
}

std::string ZipPackage::read(const std::string& name, std::uint64_t limit) const {
    DirectStream input(archive_, partIndex(name));
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
    const std::int64_t index = indexOf(name);
    if (index < 0)
        return std::nullopt;
    return archive_->entries[static_cast<std::size_t>(index)].size;
}

bool ZipPackage::isLarge(const std::string& name) const {
    const std::optional<std::uint64_t> size = declaredSize(name);
    return !size || *size >= kReadAheadMinBytes;
}

std::unique_ptr<ByteStream> ZipPackage::stream(const std::string& name, ReadAhead ahead) const {
    const std::size_t index = partIndex(name);
    if (ahead != ReadAhead::None && archive_->entries[index].size >= kReadAheadMinBytes)
        return std::make_unique<ReadAheadStream>(archive_, index, ahead == ReadAhead::OwnThread);
    return std::make_unique<DirectStream>(archive_, index);
}

} // namespace gq
