// Creating, deleting, moving, renaming and exchanging objects, each as one
// fd-relative system call on (folder descriptor, name), so no link is ever
// followed: unlinkat removes a link itself, renameat2 moves a link itself.
#include "platform/files/FileManagerInternal.h"

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

// The device and inode of what was just made at (dirFd, name). A new file
// comes with its own descriptor; a new folder does not, so the one found at
// the name must be owned by this process: anyone who may write to the parent
// could have put a folder of theirs in its place.
OSErr MakeNew(int dirFd, const char* name, mode_t mode, bool folder, struct stat* made) {
    UniqueFd fd;
    if (folder) {
        if (mkdirat(dirFd, name, mode) != 0)
            return LastStatus();
        fd = UniqueFd(openat(dirFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    } else {
        fd = UniqueFd(
            openat(dirFd, name, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.get() < 0)
            return LastStatus();
    }
    const bool known = fd.get() >= 0 && fstat(fd.get(), made) == 0;
    return known && (!folder || made->st_uid == geteuid()) ? OSErr(noErr) : OSErr(fnfErr);
}

struct Identity {
    dev_t dev;
    ino_t ino;
};

Identity IdentityOf(const OrvikFSNode* node) {
    return {node->dev, node->ino};
}

bool Is(const struct statx& st, Identity id) {
    return st.stx_ino == id.ino && makedev(st.stx_dev_major, st.stx_dev_minor) == id.dev;
}

// 0 when (dirFd, name) holds the object id; ENOENT when another one stands
// there, else the errno of the lookup.
int CheckHolds(int dirFd, const char* name, Identity id) {
    struct statx st;
    if (int error = StatxAt(dirFd, name, STATX_INO, &st))
        return error;
    return Is(st, id) ? 0 : ENOENT;
}

// Renames the object id from one name to another without replacing anything.
// The name must hold it just before; should another object have been swapped
// in at that instant, it is moved back and the call fails, so the rename lands
// on the object it was asked for or nowhere.
int RenameObject(Identity id, int fromDir, const char* from, int toDir, const char* to) {
    if (int error = CheckHolds(fromDir, from, id))
        return error;
    if (int error = RenameNoReplace(fromDir, from, toDir, to))
        return error;
    if (CheckHolds(toDir, to, id) == 0)
        return 0;
    RenameNoReplace(toDir, to, fromDir, from);
    return ENOENT;
}

// Exchanges the objects atA and atB standing at two names; when the names do
// not hold them the other way round afterwards (one was swapped meanwhile),
// the exchange is taken back and the call fails.
int ExchangeNames(int dirA, const char* nameA, Identity atA, int dirB, const char* nameB,
                  Identity atB) {
    if (renameat2(dirA, nameA, dirB, nameB, RENAME_EXCHANGE) != 0)
        return errno;
    if (CheckHolds(dirA, nameA, atB) == 0 && CheckHolds(dirB, nameB, atA) == 0)
        return 0;
    renameat2(dirA, nameA, dirB, nameB, RENAME_EXCHANGE);
    return ENOENT;
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
    struct stat made;
    if (OSErr status = MakeNew(dir.fd(), bytes.c_str(), mode, folder, &made))
        return status;
    const Identity id{made.st_dev, made.st_ino};
    if (whichInfo & kFSCatInfoSettableInfo) {
        OSErr status = SetCatalogInfoOf(dir.fd(), bytes.c_str(), id.dev, id.ino,
                                        whichInfo & kFSCatInfoSettableInfo, catalogInfo);
        if (status != noErr) {
            // What we made is taken away again, provided the name still holds it.
            if (CheckHolds(dir.fd(), bytes.c_str(), id) == 0)
                unlinkat(dir.fd(), bytes.c_str(), folder ? AT_REMOVEDIR : 0);
            return status;
        }
    }
    NodeRef node(MakeNode(Retain(parent), bytes, id.dev, id.ino, made.st_mode));
    if (newSpec)
        FillSpec(node.get(), newSpec);
    if (newDirID)
        *newDirID = UInt32(id.ino);
    if (newRef)
        SetRef(newRef, node.release());
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
    // stands there now may be a link or another file put in its place. What
    // the call just before learned of it, in this compound operation with no
    // call of any thread between, was seen at that name a moment ago.
    struct statx st;
    if (!TakeFacts(node, STATX_TYPE | STATX_INO, &st)) {
        if (int error = StatxAt(dir.fd(), name, STATX_TYPE | STATX_INO, &st))
            return StatusFromErrno(error);
    }
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
    int error = sameFolder ? CheckHolds(from.fd(), name, IdentityOf(node))
                           : RenameObject(IdentityOf(node), from.fd(), name, to.fd(), name);
    if (error)
        return StatusFromErrno(error);
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
    int error = bytes == oldName
                    ? CheckHolds(dir.fd(), oldName, IdentityOf(node))
                    : RenameObject(IdentityOf(node), dir.fd(), oldName, dir.fd(), bytes.c_str());
    if (error)
        return StatusFromErrno(error);
    if (newRef)
        SetRef(newRef, MakeNode(Retain(node->parent), bytes, node->dev, node->ino, node->mode));
    return noErr;
}

namespace {

// What an exchange gives back to each name (text encoding, node flags,
// creation, access and backup dates, permissions, Finder information): the
// content's modification date is the data's own and moves with it.
constexpr FSCatalogInfoBitmap kStaysWithTheName = 0x1F23;

FSCatalogInfo InfoOf(const struct statx& st) {
    FSCatalogInfo info{};
    info.nodeFlags = IsLocked(st) ? kFSNodeLockedMask : 0;
    info.permissions.userID = st.stx_uid;
    info.permissions.groupID = st.stx_gid;
    info.permissions.mode = UInt16(st.stx_mode);
    info.accessDate = ToUTCDateTime(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    info.contentModDate = ToUTCDateTime(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    return info;
}

} // namespace

// All or nothing: when the information cannot be given back to the names,
// each object gets its own back and returns to its name.
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
    const Identity idA = IdentityOf(a), idB = IdentityOf(b);
    if (!Is(stA, idA) || !Is(stB, idB))
        return fnfErr;
    if (!S_ISREG(stA.stx_mode) || !S_ISREG(stB.stx_mode))
        return notAFileErr;
    if (idA.dev != idB.dev)
        return diffVolErr;
    if (idA.ino == idB.ino)
        return noErr;
    if (int error = ExchangeNames(dirA.fd(), nameA, idA, dirB.fd(), nameB, idB))
        return StatusFromErrno(error);
    const FSCatalogInfo infoA = InfoOf(stA), infoB = InfoOf(stB);
    OSErr status = SetCatalogInfoOf(dirA.fd(), nameA, idB.dev, idB.ino, kStaysWithTheName, &infoA);
    if (status == noErr)
        status = SetCatalogInfoOf(dirB.fd(), nameB, idA.dev, idA.ino, kStaysWithTheName, &infoB);
    if (status == noErr)
        return noErr;
    SetCatalogInfoOf(dirB.fd(), nameB, idA.dev, idA.ino, kFSCatInfoSettableInfo, &infoA);
    SetCatalogInfoOf(dirA.fd(), nameA, idB.dev, idB.ino, kFSCatInfoSettableInfo, &infoB);
    ExchangeNames(dirA.fd(), nameA, idB, dirB.fd(), nameB, idA);
    return status;
}
