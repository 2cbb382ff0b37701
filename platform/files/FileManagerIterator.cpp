// Folder iteration over a directory descriptor: getdents64 in batches, each
// entry examined with statx relative to the descriptor without following a
// link. The descriptor lives in the shared pool, so a walk thousands of
// folders deep keeps only a bounded number open; an iterator whose
// descriptor was given back reopens its folder (checked by device and inode)
// and continues after the last entry it returned, or from the start in the
// deleting mode, where the entries returned are gone.
#include "platform/files/FileManagerInternal.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

struct OpaqueFSIterator final : orvik::fm::IteratorSlotOwner {
    FSRef folder;
    FSIteratorFlags flags = 0;
    int slot = -1; // pool slot of fd, -1 while it is given back
    int fd = -1;
    off_t resume = 0; // position after the last entry returned
    bool atEnd = false;
    std::unique_ptr<char[]> buffer;
    ssize_t length = 0, offset = 0;

    void Evicted() override {
        slot = -1;
        fd = -1;
        buffer.reset();
        length = offset = 0;
    }
};

namespace orvik::fm {
namespace {

constexpr size_t kBufferSize = 16384;

// Pins the iterator's descriptor for one call, reopening it when needed.
OSErr Ensure(OpaqueFSIterator* it) {
    if (it->slot >= 0) {
        PinSlot(it->slot);
        return noErr;
    }
    if (OSErr status = AttachIterator(it->folder.node, it, &it->fd, &it->slot))
        return status;
    off_t position = (it->flags & kFSIterateDelete) ? 0 : it->resume;
    if (position != 0 && lseek(it->fd, position, SEEK_SET) < 0) {
        UnpinSlot(it->slot);
        return LastStatus();
    }
    return noErr;
}

// The next entry other than "." and "..", null at the end (or on error,
// with *error set).
struct dirent64* NextEntry(OpaqueFSIterator* it, int* error) {
    for (;;) {
        if (it->offset >= it->length) {
            if (it->atEnd)
                return nullptr;
            if (!it->buffer)
                it->buffer.reset(new char[kBufferSize]);
            ssize_t n = getdents64(it->fd, it->buffer.get(), kBufferSize);
            if (n < 0) {
                *error = errno;
                return nullptr;
            }
            if (n == 0) {
                it->atEnd = true;
                return nullptr;
            }
            it->length = n;
            it->offset = 0;
        }
        auto* d = reinterpret_cast<struct dirent64*>(it->buffer.get() + it->offset);
        it->offset += d->d_reclen;
        it->resume = d->d_off;
        const char* n = d->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        return d;
    }
}

} // namespace
} // namespace orvik::fm

using namespace orvik::fm;

OSErr FSOpenIterator(const FSRef* container, FSIteratorFlags iteratorFlags, FSIterator* iterator) {
    OrvikFSNode* folder = NodeOf(container);
    if (!folder || !iterator)
        return paramErr;
    if (iteratorFlags & kFSIterateReserved)
        return errFSBadIteratorFlags;
    if (iteratorFlags & kFSIterateSubtree)
        return errFSIteratorNotSupported;
    if (!folder->isDir())
        return dirNFErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    auto it = std::make_unique<OpaqueFSIterator>();
    it->folder = *container;
    it->flags = iteratorFlags;
    if (OSErr status = AttachIterator(folder, it.get(), &it->fd, &it->slot))
        return status;
    UnpinSlot(it->slot);
    *iterator = it.release();
    return noErr;
}

OSErr FSCloseIterator(FSIterator iterator) {
    if (!iterator)
        return paramErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (iterator->slot >= 0)
        DetachIterator(iterator->slot);
    delete iterator;
    return noErr;
}

OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount* actualObjects,
                           Boolean* containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo* catalogInfos, FSRef* refs, FSSpecPtr specs,
                           HFSUniStr255* names) {
    if (!iterator || !actualObjects || (whichInfo && !catalogInfos))
        return paramErr;
    *actualObjects = 0;
    if (containerChanged)
        *containerChanged = false;
    if (maximumObjects == 0)
        return errFSBadItemCount;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (OSErr status = Ensure(iterator))
        return status;
    // Inside a compound operation, what is seen of the last entry answers the
    // next call about it (a deletion's check of what the name holds).
    unsigned mask = FactsMask(StatxMaskFor(whichInfo));
    ItemCount count = 0;
    int error = 0;
    while (count < maximumObjects) {
        struct dirent64* d = NextEntry(iterator, &error);
        if (!d)
            break;
        struct statx st;
        int statError = StatxAt(iterator->fd, d->d_name, mask, &st);
        if (statError == ENOENT)
            continue; // deleted since it was listed
        if (statError) {
            error = statError;
            break;
        }
        if (whichInfo)
            FillCatalogInfo(st, iterator->fd, d->d_name, whichInfo, &catalogInfos[count]);
        if (names)
            BytesToName(d->d_name, &names[count]);
        if (refs || specs) {
            NodeRef node(NodeFromStatx(Retain(iterator->folder.node), d->d_name, st));
            if (specs)
                FillSpec(node.get(), &specs[count]);
            KeepFacts(node.get(), st);
            if (refs)
                SetRef(&refs[count], node.release());
        }
        ++count;
    }
    if (iterator->slot >= 0)
        UnpinSlot(iterator->slot);
    *actualObjects = count;
    if (error)
        return StatusFromErrno(error);
    return count == 0 ? errFSNoMoreItems : noErr;
}

OSErr orvik::fm::ReadFolderNamesInto(const FSRef* folder,
                                     void (*visit)(void*, const char*, size_t, bool),
                                     void* context) {
    OrvikFSNode* node = NodeOf(folder);
    if (!node || !visit)
        return paramErr;
    if (!node->isDir())
        return dirNFErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    OpaqueFSIterator it;
    it.folder = *folder;
    if (OSErr status = AttachIterator(node, &it, &it.fd, &it.slot))
        return status;
    // Pinned for the whole read, so the descriptor is never given back meanwhile.
    int error = 0;
    while (struct dirent64* d = NextEntry(&it, &error)) {
        bool isFolder = d->d_type == DT_DIR;
        if (d->d_type == DT_UNKNOWN) {
            struct statx st;
            if (StatxAt(it.fd, d->d_name, STATX_TYPE, &st) != 0)
                continue; // gone meanwhile
            isFolder = S_ISDIR(st.stx_mode);
        }
        visit(context, d->d_name, strlen(d->d_name), isFolder);
    }
    DetachIterator(it.slot);
    UnpinSlot(it.slot);
    return error ? StatusFromErrno(error) : OSErr(noErr);
}
