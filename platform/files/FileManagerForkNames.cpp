// Named forks as a catalog: the fork names, iterating the forks of a file,
// creating and deleting a named fork (an extended attribute "user." + name).
#include "platform/files/FileManagerInternal.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

using namespace orvik::fm;

namespace {
const char16_t kResourceForkName[] = u"RESOURCE_FORK";
} // namespace

OSErr FSGetDataForkName(HFSUniStr255* dataForkName) {
    if (!dataForkName)
        return paramErr;
    dataForkName->length = 0;
    return noErr;
}

OSErr FSGetResourceForkName(HFSUniStr255* resourceForkName) {
    if (!resourceForkName)
        return paramErr;
    size_t n = sizeof kResourceForkName / sizeof kResourceForkName[0] - 1;
    memcpy(resourceForkName->unicode, kResourceForkName, n * sizeof(UniChar));
    resourceForkName->length = UInt16(n);
    return noErr;
}

OSErr FSIterateForks(const FSRef* ref, CatPositionRec* forkIterator, HFSUniStr255* forkName,
                     SInt64* forkSize, UInt64* forkPhysicalSize) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || !forkIterator)
        return paramErr;
    int index = forkIterator->initialize == 0 ? 0 : forkIterator->priv[0];
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    const char* name;
    if (OSErr status = OpenParent(node, dir, &name))
        return status;
    struct statx st;
    if (int error =
            StatxAt(dir.fd(), name, STATX_TYPE | STATX_INO | STATX_SIZE | STATX_BLOCKS, &st))
        return StatusFromErrno(error);
    if (!S_ISREG(st.stx_mode))
        return errFSNoMoreItems;
    forkIterator->initialize = 1;
    forkIterator->priv[0] = SInt16(index + 1);
    if (index == 0) {
        if (forkName)
            forkName->length = 0;
        if (forkSize)
            *forkSize = SInt64(st.stx_size);
        if (forkPhysicalSize)
            *forkPhysicalSize = st.stx_blocks * 512;
        return noErr;
    }
    const UniqueFd object(OpenObjectForAttributes(dir.fd(), name, st));
    const int fd = object.get();
    if (fd < 0)
        return errFSNoMoreItems; // no attributes can be read
    std::vector<char> list;
    ssize_t listSize = flistxattr(fd, nullptr, 0);
    if (listSize > 0) {
        list.resize(size_t(listSize));
        listSize = flistxattr(fd, list.data(), list.size());
    }
    OSErr status = errFSNoMoreItems;
    int seen = 0;
    for (ssize_t i = 0; listSize > 0 && i < listSize;) {
        const char* attr = list.data() + i;
        size_t len = strnlen(attr, size_t(listSize - i));
        i += ssize_t(len) + 1;
        if (strncmp(attr, "user.", 5) != 0 || ++seen != index)
            continue;
        ssize_t size = fgetxattr(fd, attr, nullptr, 0);
        if (size < 0) {
            status = LastStatus();
            break;
        }
        if (forkName)
            BytesToName(std::string_view(attr + 5, len - 5), forkName);
        if (forkSize)
            *forkSize = size;
        if (forkPhysicalSize)
            *forkPhysicalSize = UInt64(size);
        status = noErr;
        break;
    }
    return status;
}

OSErr FSCreateFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node)
        return paramErr;
    if (forkNameLength == 0)
        return errFSForkExists; // the data fork always exists
    std::string attribute;
    if (!AttributeName(forkName, forkNameLength, attribute))
        return errFSBadForkName;
    UniqueFd fd;
    if (OSErr status = OpenRegular(node, O_RDONLY, &fd))
        return status;
    const int rc = fsetxattr(fd.get(), attribute.c_str(), "", 0, XATTR_CREATE);
    const int error = errno;
    if (rc != 0)
        return error == EEXIST ? OSErr(errFSForkExists) : StatusFromErrno(error);
    return noErr;
}

OSErr FSDeleteFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || forkNameLength == 0)
        return paramErr;
    std::string attribute;
    if (!AttributeName(forkName, forkNameLength, attribute))
        return errFSBadForkName;
    UniqueFd fd;
    if (OSErr status = OpenRegular(node, O_RDONLY, &fd))
        return status;
    const int rc = fremovexattr(fd.get(), attribute.c_str());
    const int error = errno;
    return rc == 0 ? OSErr(noErr) : StatusFromErrno(error);
}
