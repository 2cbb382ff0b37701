// Forks: the data fork is the file's content, a named fork N the extended
// attribute "user." + N. An open fork is a slot in a table of at most 32767
// entries (the reference number is the slot + 1) holding the descriptor and
// the fork's mark. A named fork is read whole when opened and written back
// when flushed or closed, since attributes have no partial writes.
#include "platform/files/FileManagerInternal.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <vector>

namespace orvik::fm {
namespace {

constexpr size_t kMaxForks = 32767;
constexpr size_t kMaxNamedForkSize = 65536; // XATTR_SIZE_MAX

struct Fork {
    FSRef ref;
    UniqueFd fd;
    bool named = false;
    std::string attribute;
    std::vector<char> data;
    bool dirty = false;
    int64_t mark = 0;
    bool canRead = false;
    bool canWrite = false;
};

std::mutex g_forkMutex;
std::vector<std::unique_ptr<Fork>> g_forks;

Fork* FindFork(FSIORefNum refNum) {
    std::lock_guard<std::mutex> lock(g_forkMutex);
    if (refNum < 1 || size_t(refNum) > g_forks.size())
        return nullptr;
    return g_forks[size_t(refNum) - 1].get();
}

OSErr AddFork(std::unique_ptr<Fork> fork, FSIORefNum* refNum) {
    std::lock_guard<std::mutex> lock(g_forkMutex);
    size_t i = 0;
    while (i < g_forks.size() && g_forks[i])
        ++i;
    if (i == g_forks.size()) {
        if (i >= kMaxForks)
            return tmfoErr;
        g_forks.emplace_back();
    }
    g_forks[i] = std::move(fork);
    *refNum = FSIORefNum(i + 1);
    return noErr;
}

std::unique_ptr<Fork> TakeFork(FSIORefNum refNum) {
    std::lock_guard<std::mutex> lock(g_forkMutex);
    if (refNum < 1 || size_t(refNum) > g_forks.size())
        return nullptr;
    return std::move(g_forks[size_t(refNum) - 1]);
}

OSErr ForkSize(Fork* f, int64_t* size) {
    if (f->named) {
        *size = int64_t(f->data.size());
        return noErr;
    }
    struct stat st;
    if (fstat(f->fd.get(), &st) != 0)
        return LastStatus();
    *size = st.st_size;
    return noErr;
}

// The absolute position that a position mode and offset name.
OSErr Position(Fork* f, UInt16 positionMode, SInt64 offset, int64_t* position) {
    int64_t base = 0;
    switch (positionMode & 3) {
    case fsAtMark:
        *position = f->mark;
        return noErr;
    case fsFromStart:
        base = 0;
        break;
    case fsFromLEOF:
        if (OSErr status = ForkSize(f, &base))
            return status;
        break;
    case fsFromMark:
        base = f->mark;
        break;
    }
    if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset))
        return posErr;
    *position = base + offset;
    return noErr;
}

// On tmpfs a reservation is a zero-filled page per block, which the copy
// then overwrites: the check for free space does the same job for less.
bool InMemory(int fd) {
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

bool FreeSpaceFor(int fd, uint64_t bytes) {
    struct statvfs fs;
    return fstatvfs(fd, &fs) != 0 || uint64_t(fs.f_bavail) * fs.f_frsize >= bytes;
}

OSErr WriteBack(Fork* f) {
    if (!f->named || !f->dirty)
        return noErr;
    if (fsetxattr(f->fd.get(), f->attribute.c_str(), f->data.data(), f->data.size(), 0) != 0)
        return LastStatus();
    f->dirty = false;
    return noErr;
}

} // namespace

// "user." + the name's bytes; false for a name no attribute can have.
bool AttributeName(const UniChar* name, UniCharCount length, std::string& out) {
    std::string bytes;
    if (!name || !UnicodeToBytes(name, length, bytes) || bytes.find('\0') != bytes.npos)
        return false;
    out = "user." + bytes;
    return out.size() <= 255;
}

// The regular file a reference names, opened without following a link and
// only while its name holds that very file: a fork opened for writing, or an
// attribute written through it, never lands on an object swapped in.
OSErr OpenRegular(OrvikFSNode* node, int flags, UniqueFd* fd) {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    const char* name;
    if (OSErr status = OpenParent(node, dir, &name))
        return status;
    // Looked at before it is opened: opening a FIFO blocks, a device may act.
    struct statx st;
    if (int error = StatxAt(dir.fd(), name, STATX_TYPE | STATX_INO, &st))
        return StatusFromErrno(error);
    if (st.stx_ino != node->ino || makedev(st.stx_dev_major, st.stx_dev_minor) != node->dev)
        return fnfErr;
    if (!S_ISREG(st.stx_mode))
        return notAFileErr;
    *fd = UniqueFd(OpenObjectOf(dir.fd(), name, flags, node->dev, node->ino));
    return fd->get() < 0 ? LastStatus() : OSErr(noErr);
}

} // namespace orvik::fm

using namespace orvik::fm;

OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                 SInt8 permissions, FSIORefNum* forkRefNum) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || !forkRefNum || (forkNameLength && !forkName))
        return paramErr;
    auto fork = std::make_unique<Fork>();
    fork->ref = *ref;
    fork->named = forkNameLength != 0;
    if (fork->named && !AttributeName(forkName, forkNameLength, fork->attribute))
        return errFSBadForkName;
    // Deny modes (0x10, 0x20) are accepted and not enforced.
    int access = permissions & 0x0F;
    int flags = access == fsRdPerm ? O_RDONLY : access == fsWrPerm ? O_WRONLY : O_RDWR;
    int openFlags = fork->named ? O_RDONLY : flags; // attributes need only a descriptor
    OSErr status = OpenRegular(node, openFlags, &fork->fd);
    if (status != noErr && access == fsCurPerm && !fork->named &&
        (status == afpAccessDenied || status == permErr || status == wPrErr || status == fBsyErr)) {
        flags = O_RDONLY; // the current permission: whatever is allowed
        status = OpenRegular(node, flags, &fork->fd);
    }
    if (status != noErr)
        return status;
    fork->canRead = flags != O_WRONLY;
    fork->canWrite = flags != O_RDONLY;
    if (fork->named) {
        const int fd = fork->fd.get();
        ssize_t size = fgetxattr(fd, fork->attribute.c_str(), nullptr, 0);
        if (size >= 0) {
            fork->data.resize(size_t(size));
            size = fgetxattr(fd, fork->attribute.c_str(), fork->data.data(), fork->data.size());
        }
        if (size < 0)
            return LastStatus();
        fork->data.resize(size_t(size));
    }
    return AddFork(std::move(fork), forkRefNum);
}

namespace {

// What reading and writing share: the fork, the buffer check, the access
// check and the position the transfer starts at.
OSErr StartTransfer(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                    ByteCount requestCount, const void* buffer, bool write, Fork** fork,
                    int64_t* position) {
    Fork* f = FindFork(forkRefNum);
    if (!f)
        return rfNumErr;
    if (requestCount && !buffer)
        return paramErr;
    if (write ? !f->canWrite : !f->canRead)
        return write ? OSErr(wrPermErr) : OSErr(afpAccessDenied);
    *fork = f;
    return Position(f, positionMode, positionOffset, position);
}

// pread or pwrite until all is moved, the data ends (0) or an error; retries
// an interrupted call. Sets *done to the bytes moved; the errno of a failure
// is left in *error (0 when none).
template <typename Move> ByteCount TransferAll(Move move, ByteCount count, int* error) {
    ByteCount done = 0;
    *error = 0;
    while (done < count) {
        ssize_t n = move(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            *error = errno;
        if (n <= 0)
            break;
        done += ByteCount(n);
    }
    return done;
}

} // namespace

OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 ByteCount requestCount, void* buffer, ByteCount* actualCount) {
    if (actualCount)
        *actualCount = 0;
    Fork* f = nullptr;
    int64_t position = 0;
    if (OSErr status = StartTransfer(forkRefNum, positionMode, positionOffset, requestCount, buffer,
                                     false, &f, &position))
        return status;
    ByteCount done = 0;
    int error = 0;
    if (f->named) {
        size_t size = f->data.size();
        done = size_t(position) >= size
                   ? 0
                   : std::min<ByteCount>(requestCount, size - size_t(position));
        if (done)
            memcpy(buffer, f->data.data() + position, done);
    } else {
        auto* to = static_cast<char*>(buffer);
        done = TransferAll(
            [&](ByteCount moved) {
                return pread(f->fd.get(), to + moved, requestCount - moved,
                             off_t(position + int64_t(moved)));
            },
            requestCount, &error);
    }
    f->mark = position + int64_t(done);
    if (actualCount)
        *actualCount = done;
    if (error)
        return StatusFromErrno(error);
    return done < requestCount ? eofErr : noErr;
}

OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                  ByteCount requestCount, const void* buffer, ByteCount* actualCount) {
    if (actualCount)
        *actualCount = 0;
    Fork* f = nullptr;
    int64_t position = 0;
    if (OSErr status = StartTransfer(forkRefNum, positionMode, positionOffset, requestCount, buffer,
                                     true, &f, &position))
        return status;
    ByteCount done = 0;
    OSErr status = noErr;
    if (f->named) {
        if (uint64_t(position) + requestCount > kMaxNamedForkSize)
            return dskFulErr;
        if (f->data.size() < size_t(position) + requestCount)
            f->data.resize(size_t(position) + requestCount);
        if (requestCount)
            memcpy(f->data.data() + position, buffer, requestCount);
        f->dirty = true;
        done = requestCount;
    } else {
        const auto* from = static_cast<const char*>(buffer);
        int error = 0;
        done = TransferAll(
            [&](ByteCount moved) {
                return pwrite(f->fd.get(), from + moved, requestCount - moved,
                              off_t(position + int64_t(moved)));
            },
            requestCount, &error);
        if (done < requestCount) // a write that moves nothing means the disk is full
            status = error ? StatusFromErrno(error) : OSErr(dskFulErr);
    }
    f->mark = position + int64_t(done);
    if (actualCount)
        *actualCount = done;
    return status;
}

OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position) {
    Fork* f = FindFork(forkRefNum);
    if (!f)
        return rfNumErr;
    if (!position)
        return paramErr;
    *position = f->mark;
    return noErr;
}

OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset) {
    Fork* f = FindFork(forkRefNum);
    if (!f)
        return rfNumErr;
    int64_t position = 0, size = 0;
    if (OSErr status = Position(f, positionMode, positionOffset, &position))
        return status;
    if (OSErr status = ForkSize(f, &size))
        return status;
    if (position > size)
        return eofErr;
    f->mark = position;
    return noErr;
}

OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* forkSize) {
    Fork* f = FindFork(forkRefNum);
    if (!f)
        return rfNumErr;
    if (!forkSize)
        return paramErr;
    int64_t size = 0;
    if (OSErr status = ForkSize(f, &size))
        return status;
    *forkSize = size;
    return noErr;
}

OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset) {
    Fork* f = FindFork(forkRefNum);
    if (!f)
        return rfNumErr;
    if (!f->canWrite)
        return wrPermErr;
    int64_t size;
    if (OSErr status = Position(f, positionMode, positionOffset, &size))
        return status;
    if (f->named) {
        if (uint64_t(size) > kMaxNamedForkSize)
            return dskFulErr;
        f->data.resize(size_t(size));
        f->dirty = true;
    } else if (ftruncate(f->fd.get(), off_t(size)) != 0) {
        return LastStatus();
    }
    if (f->mark > size)
        f->mark = size;
    return noErr;
}

OSErr FSAllocateFork(FSIORefNum forkRefNum, FSAllocationFlags /*flags*/, UInt16 positionMode,
                     SInt64 positionOffset, UInt64 requestCount, UInt64* actualCount) {
    if (actualCount)
        *actualCount = 0;
    Fork* f = FindFork(forkRefNum);
    if (!f)
        return rfNumErr;
    if (!f->canWrite)
        return wrPermErr;
    int64_t start;
    if (OSErr status = Position(f, positionMode, positionOffset, &start))
        return status;
    if (requestCount > uint64_t(INT64_MAX - start))
        return dskFulErr;
    if (requestCount == 0)
        return noErr;
    if (f->named) {
        if (uint64_t(start) + requestCount > kMaxNamedForkSize)
            return dskFulErr;
    } else if (InMemory(f->fd.get())) {
        if (!FreeSpaceFor(f->fd.get(), requestCount))
            return dskFulErr;
    } else if (fallocate(f->fd.get(), FALLOC_FL_KEEP_SIZE, off_t(start), off_t(requestCount)) !=
               0) {
        if (errno != EOPNOTSUPP)
            return LastStatus();
        if (!FreeSpaceFor(f->fd.get(), requestCount)) // no reservation here: the space must be free
            return dskFulErr;
    }
    if (actualCount)
        *actualCount = requestCount;
    return noErr;
}

OSErr FSFlushFork(FSIORefNum forkRefNum) {
    Fork* f = FindFork(forkRefNum);
    if (!f)
        return rfNumErr;
    if (f->named)
        return WriteBack(f);
    return fdatasync(f->fd.get()) == 0 ? OSErr(noErr) : LastStatus();
}

OSErr FSCloseFork(FSIORefNum forkRefNum) {
    std::unique_ptr<Fork> f = TakeFork(forkRefNum);
    if (!f)
        return rfNumErr;
    return WriteBack(f.get());
}

namespace orvik::fm {
namespace {

// The kernel copies between two data forks; false, with nothing copied,
// when it cannot for these two (the caller then copies through memory).
bool CopyInKernel(Fork* s, Fork* d, ByteCount requestCount, ByteCount* actualCount, OSErr* status) {
    static std::atomic<bool> unavailable{false};
    if (unavailable.load(std::memory_order_relaxed))
        return false;
    loff_t in = s->mark, out = d->mark;
    ByteCount done = 0;
    *status = noErr;
    while (done < requestCount) {
        const ssize_t n =
            copy_file_range(s->fd.get(), &in, d->fd.get(), &out, requestCount - done, 0);
        if (n > 0) {
            done += ByteCount(n);
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        if (done == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EBADF || errno == EPERM)) {
            if (errno == ENOSYS)
                unavailable.store(true, std::memory_order_relaxed);
            return false;
        }
        *status = LastStatus();
        break;
    }
    s->mark += int64_t(done);
    d->mark += int64_t(done);
    if (actualCount)
        *actualCount = done;
    if (*status == noErr && done < requestCount)
        *status = eofErr;
    return true;
}

} // namespace
} // namespace orvik::fm

OSErr FSCopyForkChunk(FSIORefNum sourceRefNum, FSIORefNum destRefNum, ByteCount requestCount,
                      void* scratch, ByteCount* actualCount) {
    if (actualCount)
        *actualCount = 0;
    Fork* s = FindFork(sourceRefNum);
    Fork* d = FindFork(destRefNum);
    if (!s || !d)
        return rfNumErr;
    if (!s->canRead)
        return afpAccessDenied;
    if (!d->canWrite)
        return wrPermErr;
    if (requestCount == 0)
        return noErr;
    OSErr copied = noErr;
    if (!s->named && !d->named && CopyInKernel(s, d, requestCount, actualCount, &copied))
        return copied;
    if (!scratch)
        return paramErr;
    ByteCount got = 0, put = 0;
    OSErr readStatus = FSReadFork(sourceRefNum, fsAtMark, 0, requestCount, scratch, &got);
    if (readStatus != noErr && readStatus != eofErr)
        return readStatus;
    OSErr writeStatus = FSWriteFork(destRefNum, fsAtMark, 0, got, scratch, &put);
    if (actualCount)
        *actualCount = put;
    if (writeStatus != noErr)
        return writeStatus;
    return readStatus;
}
