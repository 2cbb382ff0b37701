// COrvikFilePath::GetFileChecksum: the CRC-32 of a file's content, read
// through a private read-only mapping of the whole file.
#include "paths/FileChecksum.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <system_error>
#include <thread>

#include "paths/Crc32.h"
#include "paths/PathClasses.h"
#include "platform/UniqueFd.h"
#include "strings/Utf8String.h"

size_t g_checksumHelperMinimum = size_t{64} << 20;

namespace {

size_t PageBytes() {
    static const size_t page = [] {
        long bytes = sysconf(_SC_PAGESIZE);
        return bytes > 0 ? static_cast<size_t>(bytes) : size_t{4096};
    }();
    return page;
}

// Makes the pages of [p, p + n) present for reading. The kernel maps them
// first and reports a page past the end of the file as an error instead of
// SIGBUS; a kernel without that request (EINVAL) leaves it to the reads.
bool MakePresent(const char* p, size_t n) {
    if (madvise(const_cast<char*>(p), n, MADV_POPULATE_READ) != 0 && errno != EINVAL)
        return false;
    // Then one read per page, in order: where the first user read of a page
    // traps to the host, these traps come far cheaper here than in the CRC.
    unsigned sum = 0;
    for (size_t i = 0; i < n; i += PageBytes())
        sum += *reinterpret_cast<const volatile unsigned char*>(p + i);
    (void)sum;
    return true;
}

// The chunks of one mapping and which of them are present. Chunks are
// claimed in order by whoever makes them present (helper or caller); only
// the caller runs the CRC, in order, waiting for a chunk still in the
// helper's hands.
class ChunkQueue {
public:
    ChunkQueue(const char* map, size_t size)
        : map_(map), size_(size), count_((size + kChecksumChunkBytes - 1) / kChecksumChunkBytes) {}

    size_t Count() const { return count_; }
    const char* Start(size_t i) const { return map_ + i * kChecksumChunkBytes; }
    size_t Length(size_t i) const {
        return i + 1 < count_ ? kChecksumChunkBytes : size_ - i * kChecksumChunkBytes;
    }

    // Claims the next chunk nobody has claimed and makes it present; false
    // when every chunk is claimed or the caller has stopped.
    bool PrepareNext() {
        if (stopped_.load(std::memory_order_relaxed))
            return false;
        size_t i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i >= count_)
            return false;
        state_[i].store(MakePresent(Start(i), Length(i)) ? kPresent : kFailed,
                        std::memory_order_release);
        state_[i].notify_one();
        return true;
    }

    // True once chunk i is present, false if it can't be; prepares later
    // chunks meanwhile rather than wait idle.
    bool Await(size_t i) {
        for (;;) {
            int state = state_[i].load(std::memory_order_acquire);
            if (state != kPending)
                return state == kPresent;
            if (!PrepareNext())
                state_[i].wait(kPending, std::memory_order_acquire); // the helper has it
        }
    }

    // Called by the caller when it stops early: the helper claims nothing more.
    void Stop() { stopped_.store(true, std::memory_order_relaxed); }

private:
    enum : int { kPending, kPresent, kFailed };
    static constexpr size_t kMaxChunks = (size_t{UINT32_MAX} + 1) / kChecksumChunkBytes;

    const char* map_;
    size_t size_;
    size_t count_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> stopped_{false};
    std::atomic<int> state_[kMaxChunks] = {}; // a size is a 32-bit count
};

} // namespace

bool ChecksumMappedBytes(const char* map, size_t size, uint32_t* crc) {
    if (size > UINT32_MAX)
        return false;
    ChunkQueue chunks(map, size);
    std::thread helper;
    if (size >= g_checksumHelperMinimum && chunks.Count() > 1) {
        try {
            helper = std::thread([&chunks] {
                while (chunks.PrepareNext()) {
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: the caller makes every chunk present itself.
        }
    }
    uint32_t reg = 0;
    bool present = true;
    for (size_t i = 0; present && i < chunks.Count(); ++i) {
        present = chunks.Await(i);
        if (present) {
            size_t length = chunks.Length(i);
            reg = CombineCRC32(
                reg, CalculateCRC32(const_cast<char*>(chunks.Start(i)), static_cast<int>(length)),
                length);
        }
    }
    chunks.Stop();
    if (helper.joinable())
        helper.join();
    if (present)
        *crc = reg;
    return present;
}

uint32_t COrvikFilePath::GetFileChecksum() const {
    CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(m_path);
    // A FIFO must not block.
    const orvik::UniqueFd file(open(utf8.GetString(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const int fd = file.get();
    struct stat st;
    if (fd == -1 || fstat(fd, &st) != 0)
        return 0;
    // The size is a 32-bit count; an empty file can't be mapped and gives 0.
    size_t size = static_cast<uint32_t>(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    uint32_t crc = 0;
    if (map != MAP_FAILED) {
        madvise(map, size, MADV_SEQUENTIAL);
        if (size > INT_MAX) // CalculateCRC32's length is signed: from 2 GiB on it gives 0
            crc = CalculateCRC32(static_cast<char*>(map), static_cast<int>(size));
        else if (!ChecksumMappedBytes(static_cast<const char*>(map), size, &crc))
            crc = 0; // the file shrank below the mapping
    }
    if (map != MAP_FAILED)
        munmap(map, size);
    return crc;
}
