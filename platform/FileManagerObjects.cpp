// Creating, deleting, moving, renaming and exchanging objects, each as one
// fd-relative system call on (folder descriptor, name), so no link is ever
// followed: unlinkat removes a link itself, renameat2 moves a link itself.
#include "platform/FileManagerInternal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace orvik::fm {
namespace {

OSErr NameArgument(const UniChar* name, UniCharCount length, std::string& bytes) {
    if (!name || length == 0)
        return paramErr;
    switch (NameToBytes(name, length, bytes)) {
    case NameCheck::ok:
        return noErr;
    case NameCheck::invalid:
        return bdNamErr;
    case NameCheck::tooLong:
        return errFSNameTooLong;
    }
    return paramErr;
}

// renameat2 without replacing; where the file system lacks RENAME_NOREPLACE,
// a check for the name followed by renameat.
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
    if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    struct statx st;
    int lookup = StatxAt(toDir, to, STATX_TYPE, &st);
    if (lookup == 0)
        return EEXIST;
    if (lookup != ENOENT)
        return lookup;
    return renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

OSErr CreateObject(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                   FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo, FSRef* newRef,
                   FSSpecPtr newSpec, UInt32* newDirID, bool folder) {
    OrvikFSNode* parent = NodeOf(parentRef);
    if (!parent || (whichInfo && !catalogInfo))
        return paramErr;
    std::string bytes;
    if (OSErr status = NameArgument(name, nameLength, bytes))
        return status;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    if (OSErr status = OpenFolder(parent, dir))
        return status;
    mode_t mode = (whichInfo & kFSCatInfoPermissions) ? catalogInfo->permissions.mode & 07777
                                                      : (folder ? 0777 : 0666);
    if (folder) {
        if (mkdirat(dir.fd(), bytes.c_str(), mode) != 0)
            return LastStatus();
    } else {
        int fd = openat(dir.fd(), bytes.c_str(),
                        O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0)
            return LastStatus();
        close(fd);
    }
    struct statx st;
    if (int error = StatxAt(dir.fd(), bytes.c_str(), STATX_TYPE | STATX_INO, &st))
        return StatusFromErrno(error);
    if (whichInfo & kFSCatInfoSettableInfo) {
        OSErr status = SetCatalogInfoAt(dir.fd(), bytes.c_str(), whichInfo & kFSCatInfoSettableInfo,
                                        catalogInfo);
        if (status != noErr) {
            // What we made is taken away again, provided the name still holds it.
            struct statx now;
            if (StatxAt(dir.fd(), bytes.c_str(), STATX_INO, &now) == 0 && now.stx_ino == st.stx_ino)
                unlinkat(dir.fd(), bytes.c_str(), folder ? AT_REMOVEDIR : 0);
            return status;
        }
    }
    OrvikFSNode* node = NodeFromStatx(Retain(parent), bytes, st);
    if (newSpec)
        FillSpec(node, newSpec);
    if (newDirID)
        *newDirID = UInt32(st.stx_ino);
    if (newRef)
        SetRef(newRef, node);
    else
        Release(node);
    return noErr;
}

} // namespace
} // namespace orvik::fm

using namespace orvik::fm;

OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpecPtr newSpec) {
    return CreateObject(parentRef, nameLength, name, whichInfo, catalogInfo, newRef, newSpec,
                        nullptr, false);
}

OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                               FSRef* newRef, FSSpecPtr newSpec, UInt32* newDirID) {
    return CreateObject(parentRef, nameLength, name, whichInfo, catalogInfo, newRef, newSpec,
                        newDirID, true);
}

OSErr FSDeleteObject(const FSRef* ref) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node)
        return paramErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    const char* name;
    if (OSErr status = OpenParent(node, dir, &name))
        return status;
    // The name must still hold the object the reference was made for: what
    // stands there now may be a link or another file put in its place.
    struct statx st;
    if (int error = StatxAt(dir.fd(), name, STATX_TYPE | STATX_INO, &st))
        return StatusFromErrno(error);
    if (st.stx_ino != node->ino || makedev(st.stx_dev_major, st.stx_dev_minor) != node->dev)
        return fnfErr;
    const bool folder = S_ISDIR(st.stx_mode);
    if (unlinkat(dir.fd(), name, folder ? AT_REMOVEDIR : 0) != 0)
        return LastStatus();
    if (folder)
        ForgetFolder(node);
    return noErr;
}

OSErr FSMoveObject(const FSRef* ref, const FSRef* destDirectory, FSRef* newRef) {
    OrvikFSNode* node = NodeOf(ref);
    OrvikFSNode* dest = NodeOf(destDirectory);
    if (!node || !dest || node->isRoot())
        return paramErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd from, to;
    const char* name;
    if (OSErr status = OpenParent(node, from, &name))
        return status;
    if (OSErr status = OpenFolder(dest, to))
        return status;
    struct stat a, b;
    bool sameFolder = fstat(from.fd(), &a) == 0 && fstat(to.fd(), &b) == 0 &&
                      a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    if (!sameFolder) {
        if (int error = RenameNoReplace(from.fd(), name, to.fd(), name))
            return StatusFromErrno(error);
    }
    if (newRef)
        SetRef(newRef, MakeNode(Retain(dest), node->nameView(), node->dev, node->ino, node->mode));
    return noErr;
}

OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name,
                      TextEncoding /*textEncodingHint*/, FSRef* newRef) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || node->isRoot())
        return paramErr;
    std::string bytes;
    if (OSErr status = NameArgument(name, nameLength, bytes))
        return status;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    const char* oldName;
    if (OSErr status = OpenParent(node, dir, &oldName))
        return status;
    if (bytes != oldName) {
        if (int error = RenameNoReplace(dir.fd(), oldName, dir.fd(), bytes.c_str()))
            return StatusFromErrno(error);
    }
    if (newRef)
        SetRef(newRef, MakeNode(Retain(node->parent), bytes, node->dev, node->ino, node->mode));
    return noErr;
}

OSErr FSExchangeObjects(const FSRef* ref, const FSRef* destRef) {
    OrvikFSNode* a = NodeOf(ref);
    OrvikFSNode* b = NodeOf(destRef);
    if (!a || !b)
        return paramErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dirA, dirB;
    const char *nameA, *nameB;
    if (OSErr status = OpenParent(a, dirA, &nameA))
        return status;
    if (OSErr status = OpenParent(b, dirB, &nameB))
        return status;
    struct statx stA, stB;
    if (int error = StatxAt(dirA.fd(), nameA, STATX_BASIC_STATS, &stA))
        return StatusFromErrno(error);
    if (int error = StatxAt(dirB.fd(), nameB, STATX_BASIC_STATS, &stB))
        return StatusFromErrno(error);
    if (!S_ISREG(stA.stx_mode) || !S_ISREG(stB.stx_mode))
        return notAFileErr;
    if (stA.stx_dev_major != stB.stx_dev_major || stA.stx_dev_minor != stB.stx_dev_minor)
        return diffVolErr;
    if (stA.stx_ino == stB.stx_ino)
        return noErr;
    if (renameat2(dirA.fd(), nameA, dirB.fd(), nameB, RENAME_EXCHANGE) != 0)
        return LastStatus();
    // The contents changed places; mode, owner, times and flags go back to
    // the names they belonged to.
    auto infoOf = [](const struct statx& st) {
        FSCatalogInfo info{};
        info.nodeFlags = IsLocked(st) ? kFSNodeLockedMask : 0;
        info.permissions.userID = st.stx_uid;
        info.permissions.groupID = st.stx_gid;
        info.permissions.mode = UInt16(st.stx_mode);
        info.accessDate = ToUTCDateTime(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
        info.contentModDate = ToUTCDateTime(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
        return info;
    };
    const FSCatalogInfoBitmap fields =
        kFSCatInfoNodeFlags | kFSCatInfoPermissions | kFSCatInfoAccessDate | kFSCatInfoContentMod;
    FSCatalogInfo infoA = infoOf(stA), infoB = infoOf(stB);
    OSErr first = SetCatalogInfoAt(dirA.fd(), nameA, fields, &infoA);
    OSErr second = SetCatalogInfoAt(dirB.fd(), nameB, fields, &infoB);
    return first != noErr ? first : second;
}
