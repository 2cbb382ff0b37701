// Catalog information over statx, the immutable flag as the locked flag,
// volumes and the temporary-items folder.
//
// Reading never opens the object (a FIFO would block, a device node may act
// on being opened); only the named-fork sizes and a folder's entry count,
// asked for explicitly, open a regular file or a folder for reading.
// Writing acts through a descriptor of the object the reference names, opened
// without following a link and checked by device and inode, so a name swapped
// meanwhile never passes one object's owner or mode to another. It follows the
// order the immutable flag imposes: an immutable object refuses chmod, chown
// and utimes, so the flag is cleared first and set last.
#include "platform/files/FileManagerInternal.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef SYS_fchmodat2
#define SYS_fchmodat2 452 // the same number on every architecture
#endif

namespace orvik::fm {

namespace {

constexpr int64_t kSeconds1904To1970 = 2082844800;

// Bytes of every "user." attribute, from a descriptor of the object.
uint64_t NamedForkBytes(int fd) {
    ssize_t listSize = flistxattr(fd, nullptr, 0);
    if (listSize <= 0)
        return 0;
    std::vector<char> list(size_t(listSize) + 1);
    listSize = flistxattr(fd, list.data(), list.size() - 1);
    if (listSize <= 0)
        return 0;
    uint64_t total = 0;
    for (ssize_t i = 0; i < listSize;) {
        const char* attr = list.data() + i;
        size_t len = strlen(attr);
        if (strncmp(attr, "user.", 5) == 0) {
            ssize_t n = fgetxattr(fd, attr, nullptr, 0);
            if (n > 0)
                total += uint64_t(n);
        }
        i += ssize_t(len) + 1;
    }
    return total;
}

uint32_t CountEntries(int fd) {
    uint32_t count = 0;
    char buffer[8192];
    for (;;) {
        ssize_t n = getdents64(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t off = 0; off < n;) {
            auto* d = reinterpret_cast<struct dirent64*>(buffer + off);
            if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0)
                ++count;
            off += d->d_reclen;
        }
    }
    return count;
}

UTCDateTime DateOf(const struct statx_timestamp& t) {
    return ToUTCDateTime(t.tv_sec, t.tv_nsec);
}

std::string ProcPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// chmod through an O_PATH descriptor: fchmodat2 where the kernel has it, else
// the descriptor's entry in /proc, which leads to that very inode.
int ChmodObject(int fd, mode_t mode) {
    if (syscall(SYS_fchmodat2, fd, "", mode, AT_EMPTY_PATH) == 0)
        return 0;
    if (errno != ENOSYS && errno != EINVAL)
        return errno;
    return chmod(ProcPath(fd).c_str(), mode) == 0 ? 0 : errno;
}

int ChownObject(int fd, uid_t uid, gid_t gid) {
    return fchownat(fd, "", uid, gid, AT_EMPTY_PATH) == 0 ? 0 : errno;
}

int TouchObject(int fd, bool link, const struct timespec times[2]) {
    if (utimensat(fd, "", times, AT_EMPTY_PATH) == 0)
        return 0;
    if (errno != EINVAL || link) // /proc would lead through a link
        return errno;
    return utimensat(AT_FDCWD, ProcPath(fd).c_str(), times, 0) == 0 ? 0 : errno;
}

int GetInodeFlags(int fd, int* flags) {
    return ioctl(fd, FS_IOC_GETFLAGS, flags) == 0 ? 0 : errno;
}

// Sets or clears only FS_IMMUTABLE_FL, then reads the flag back from the same
// descriptor: some file systems (overlayfs) report an error and apply the
// change anyway, so the state read afterwards decides.
int ChangeImmutable(int fd, bool locked) {
    int flags = 0;
    int error = GetInodeFlags(fd, &flags);
    if (error == 0) {
        flags = locked ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        error = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0 ? 0 : errno;
    }
    struct statx st;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE, &st) == 0 &&
        (st.stx_attributes_mask & STATX_ATTR_IMMUTABLE) && IsLocked(st) == locked)
        return 0;
    return error ? error : EPERM;
}

// What a catalog write changes, worked out from the object's current state.
struct CatalogChange {
    bool wasLocked = false;
    bool wantLocked = false;
    bool setOwner = false;
    bool setMode = false;
    bool setTimes = false;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};

    bool changesOther() const { return setOwner || setMode || setTimes; }
};

struct timespec TimespecOf(const UTCDateTime& date) {
    int64_t s;
    uint32_t ns;
    FromUTCDateTime(date, &s, &ns);
    return {time_t(s), long(ns)};
}

CatalogChange PlanChange(const struct statx& st, FSCatalogInfoBitmap whichInfo,
                         const FSCatalogInfo* info) {
    CatalogChange c;
    c.wasLocked = IsLocked(st);
    c.wantLocked = (whichInfo & kFSCatInfoNodeFlags) ? (info->nodeFlags & kFSNodeLockedMask) != 0
                                                     : c.wasLocked;
    c.uid = st.stx_uid;
    c.gid = st.stx_gid;
    c.mode = st.stx_mode & 07777;
    if (whichInfo & kFSCatInfoPermissions) {
        c.uid = info->permissions.userID;
        c.gid = info->permissions.groupID;
        c.mode = info->permissions.mode & 07777;
        c.setOwner = c.uid != st.stx_uid || c.gid != st.stx_gid;
        c.setMode = !S_ISLNK(st.stx_mode) && c.mode != (st.stx_mode & 07777);
    }
    if (whichInfo & kFSCatInfoAccessDate) {
        c.times[0] = TimespecOf(info->accessDate);
        c.setTimes = true;
    }
    if (whichInfo & kFSCatInfoContentMod) {
        c.times[1] = TimespecOf(info->contentModDate);
        c.setTimes = true;
    }
    return c;
}

// Owner, mode and dates, in that order, through the O_PATH descriptor.
int ApplyOwnerModeTimes(int fd, bool link, const CatalogChange& c, FSCatalogInfoBitmap whichInfo) {
    bool setMode = c.setMode;
    if (c.setOwner) {
        int error = ChownObject(fd, c.uid, c.gid);
        // As on the original platform, ownership that cannot be given is only
        // an error when kFSCatInfoSetOwnership asks for it.
        if (error && (error != EPERM || (whichInfo & kFSCatInfoSetOwnership)))
            return error;
        if (!error)
            setMode = !link; // a new owner clears the set-id bits
    }
    if (setMode) {
        if (int error = ChmodObject(fd, c.mode))
            return error;
    }
    return c.setTimes ? TouchObject(fd, link, c.times) : 0;
}

} // namespace

int OpenObjectOf(int dirFd, const char* name, int flags, dev_t dev, ino_t ino) {
    if (!(flags & O_PATH))
        flags |= O_NONBLOCK | O_NOCTTY;
    UniqueFd fd(openat(dirFd, name, flags | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return -1;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || st.st_dev != dev || st.st_ino != ino) {
        errno = ENOENT; // another object stands at the name now
        return -1;
    }
    return fd.release();
}

OSErr SetCatalogInfoOf(int dirFd, const char* name, dev_t dev, ino_t ino,
                       FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* info) {
    UniqueFd object(OpenObjectOf(dirFd, name, O_PATH, dev, ino));
    if (object.get() < 0)
        return LastStatus();
    struct statx st;
    if (statx(object.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS, &st) != 0)
        return LastStatus();
    const CatalogChange c = PlanChange(st, whichInfo, info);
    if (!c.changesOther() && c.wasLocked == c.wantLocked)
        return noErr;
    // The immutable flag needs a descriptor opened for reading, of the same
    // object; only files and folders carry it.
    const bool needFlags = c.wasLocked || c.wantLocked;
    if (needFlags && !S_ISREG(st.stx_mode) && !S_ISDIR(st.stx_mode))
        return paramErr;
    UniqueFd flagsFd(needFlags ? OpenObjectOf(dirFd, name, O_RDONLY, dev, ino) : -1);
    if (needFlags && flagsFd.get() < 0)
        return LastStatus();
    // An immutable object refuses every other change: the flag goes first and
    // comes back last, also when a change in between failed.
    bool locked = c.wasLocked;
    if (locked && (c.changesOther() || !c.wantLocked)) {
        if (int error = ChangeImmutable(flagsFd.get(), false))
            return StatusFromErrno(error);
        locked = false;
    }
    int error = ApplyOwnerModeTimes(object.get(), S_ISLNK(st.stx_mode), c, whichInfo);
    const bool lockAfter = error ? c.wasLocked : c.wantLocked;
    if (lockAfter && !locked) {
        int lockError = ChangeImmutable(flagsFd.get(), true);
        error = error ? error : lockError;
    }
    return StatusFromErrno(error);
}

unsigned StatxMaskFor(FSCatalogInfoBitmap whichInfo) {
    unsigned mask = STATX_TYPE | STATX_INO;
    if (whichInfo & (kFSCatInfoPermissions | kFSCatInfoUserAccess))
        mask |= STATX_MODE | STATX_UID | STATX_GID;
    if (whichInfo & kFSCatInfoAllDates)
        mask |= STATX_ATIME | STATX_MTIME | STATX_CTIME | STATX_BTIME;
    if (whichInfo & (kFSCatInfoDataSizes | kFSCatInfoNodeFlags))
        mask |= STATX_SIZE | STATX_BLOCKS | STATX_NLINK;
    return mask;
}

bool IsLocked(const struct statx& st) {
    return (st.stx_attributes_mask & STATX_ATTR_IMMUTABLE) &&
           (st.stx_attributes & STATX_ATTR_IMMUTABLE);
}

UTCDateTime ToUTCDateTime(int64_t unixSeconds, uint32_t nanoseconds) {
    int64_t seconds = unixSeconds + kSeconds1904To1970;
    if (seconds < 0)
        seconds = 0;
    UTCDateTime date;
    date.highSeconds = UInt16(uint64_t(seconds) >> 32);
    date.lowSeconds = UInt32(uint64_t(seconds));
    date.fraction = UInt16((uint64_t(nanoseconds) << 16) / 1000000000u);
    return date;
}

void FromUTCDateTime(const UTCDateTime& date, int64_t* unixSeconds, uint32_t* nanoseconds) {
    int64_t seconds = int64_t(uint64_t(date.highSeconds) << 32 | date.lowSeconds);
    *unixSeconds = seconds - kSeconds1904To1970;
    *nanoseconds = uint32_t((uint64_t(date.fraction) * 1000000000u) >> 16);
}

int OpenObjectForAttributes(int dirFd, const char* name, const struct statx& expected) {
    if (!S_ISREG(expected.stx_mode) && !S_ISDIR(expected.stx_mode)) {
        errno = EINVAL;
        return -1;
    }
    return OpenObjectOf(dirFd, name, O_RDONLY,
                        makedev(expected.stx_dev_major, expected.stx_dev_minor), expected.stx_ino);
}

void FillCatalogInfo(const struct statx& st, int dirFd, const char* name,
                     FSCatalogInfoBitmap whichInfo, FSCatalogInfo* info) {
    bool folder = S_ISDIR(st.stx_mode);
    if (whichInfo & kFSCatInfoTextEncoding)
        info->textEncodingHint = 0x08000100; // UTF-8
    if (whichInfo & kFSCatInfoNodeFlags) {
        UInt16 flags = 0;
        if (folder)
            flags |= kFSNodeIsDirectoryMask;
        if (IsLocked(st))
            flags |= kFSNodeLockedMask;
        if (!folder && st.stx_nlink > 1)
            flags |= kFSNodeHardLinkMask;
        info->nodeFlags = flags;
    }
    dev_t dev = makedev(st.stx_dev_major, st.stx_dev_minor);
    if (whichInfo & kFSCatInfoVolume)
        info->volume = VolumeOf(dev, dirFd, name);
    if (whichInfo & kFSCatInfoParentDirID) {
        struct stat parent;
        info->parentDirID =
            dirFd != AT_FDCWD && fstat(dirFd, &parent) == 0 ? UInt32(parent.st_ino) : 1;
    }
    if (whichInfo & kFSCatInfoNodeID)
        info->nodeID = UInt32(st.stx_ino);
    if (whichInfo & kFSCatInfoSharingFlags)
        info->sharingFlags = 0;
    if (whichInfo & kFSCatInfoUserPrivs)
        info->userPrivileges = 0;
    if (whichInfo & kFSCatInfoCreateDate)
        info->createDate = DateOf((st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_ctime);
    if (whichInfo & kFSCatInfoContentMod)
        info->contentModDate = DateOf(st.stx_mtime);
    if (whichInfo & kFSCatInfoAttrMod)
        info->attributeModDate = DateOf(st.stx_ctime);
    if (whichInfo & kFSCatInfoAccessDate)
        info->accessDate = DateOf(st.stx_atime);
    if (whichInfo & kFSCatInfoBackupDate)
        info->backupDate = UTCDateTime{0, 0, 0};
    if (whichInfo & (kFSCatInfoPermissions | kFSCatInfoUserAccess)) {
        info->permissions.userID = st.stx_uid;
        info->permissions.groupID = st.stx_gid;
        info->permissions.reserved1 = 0;
        info->permissions.userAccess = 0;
        info->permissions.mode = UInt16(st.stx_mode);
        info->permissions.reserved2 = 0;
    }
    if (whichInfo & kFSCatInfoFinderInfo) {
        FileInfo finder{};
        if (S_ISLNK(st.stx_mode)) {
            finder.fileType = kSymLinkFileType;
            finder.fileCreator = kSymLinkCreator;
        }
        static_assert(sizeof finder == sizeof info->finderInfo);
        memcpy(info->finderInfo, &finder, sizeof finder);
    }
    if (whichInfo & kFSCatInfoFinderXInfo)
        memset(info->extFinderInfo, 0, sizeof info->extFinderInfo);
    if (whichInfo & kFSCatInfoValence)
        info->valence = 0;
    if (whichInfo & kFSCatInfoDataSizes) {
        info->dataLogicalSize = folder ? 0 : st.stx_size;
        info->dataPhysicalSize = folder ? 0 : st.stx_blocks * 512;
    }
    if (whichInfo & kFSCatInfoRsrcSizes)
        info->rsrcLogicalSize = info->rsrcPhysicalSize = 0;
    // Asked for explicitly: these two need the object opened for reading.
    if (whichInfo & (kFSCatInfoValence | kFSCatInfoRsrcSizes)) {
        const UniqueFd fd(OpenObjectForAttributes(dirFd, name, st));
        if (fd.get() >= 0) {
            if ((whichInfo & kFSCatInfoValence) && folder)
                info->valence = CountEntries(fd.get());
            if (whichInfo & kFSCatInfoRsrcSizes)
                info->rsrcLogicalSize = info->rsrcPhysicalSize = NamedForkBytes(fd.get());
        }
    }
}

// ---- Volumes ----

namespace {

struct Volume {
    dev_t dev;
    long fsType;
};
std::vector<Volume>& Volumes() {
    static std::vector<Volume> volumes;
    return volumes;
}
constexpr int kFirstVolume = -100;
constexpr size_t kMaxVolumes = 4096;

bool ExchangesNatively(long fsType) {
    switch (static_cast<unsigned long>(fsType)) {
    case EXT4_SUPER_MAGIC: // also ext2 and ext3
    case TMPFS_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case 0x24051905: // ubifs
    case 0xca451a4e: // bcachefs
        return true;
    default:
        return false;
    }
}

} // namespace

FSVolumeRefNum VolumeOf(dev_t dev, int dirFd, const char* name) {
    auto& volumes = Volumes();
    for (size_t i = 0; i < volumes.size(); ++i)
        if (volumes[i].dev == dev)
            return FSVolumeRefNum(kFirstVolume - int(i));
    if (volumes.size() >= kMaxVolumes)
        return 0;
    long fsType = 0;
    const UniqueFd object(openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct statfs fs;
    if (object.get() >= 0 && fstatfs(object.get(), &fs) == 0)
        fsType = fs.f_type;
    volumes.push_back({dev, fsType});
    return FSVolumeRefNum(kFirstVolume - int(volumes.size() - 1));
}

void FillSpec(const OrvikFSNode* node, FSSpec* spec) {
    spec->vRefNum = 0;
    spec->parID = node->parent ? SInt32(node->parent->ino) : 1;
    size_t n = node->nameLength < 63 ? node->nameLength : 63;
    spec->name[0] = UInt8(n);
    memcpy(spec->name + 1, node->name(), n);
    SetRef(&spec->ref, Retain(const_cast<OrvikFSNode*>(node)));
}

} // namespace orvik::fm

using namespace orvik::fm;

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpecPtr fsSpec, FSRef* parentRef) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || (whichInfo && !catalogInfo))
        return paramErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    unsigned mask = StatxMaskFor(whichInfo);
    struct statx st;
    const bool known = TakeFacts(node, mask, &st);
    // Facts just read answer alone unless the folder itself is asked about.
    const bool needFolder = !known || (whichInfo & (kFSCatInfoVolume | kFSCatInfoParentDirID)) != 0;
    DirFd dir;
    const char* name = node->name();
    if (needFolder) {
        if (OSErr status = OpenParent(node, dir, &name))
            return status;
    }
    if (!known) {
        if (int error = StatxAt(dir.fd(), name, mask, &st))
            return StatusFromErrno(error);
    }
    if (whichInfo)
        FillCatalogInfo(st, dir.fd(), name, whichInfo, catalogInfo);
    if (outName)
        BytesToName(node->isRoot() ? std::string_view() : node->nameView(), outName);
    if (fsSpec)
        FillSpec(node, fsSpec);
    if (parentRef)
        SetRef(parentRef, Retain(node->parent));
    return noErr;
}

OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* catalogInfo) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || (whichInfo && !catalogInfo))
        return paramErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    const char* name;
    if (OSErr status = OpenParent(node, dir, &name))
        return status;
    return SetCatalogInfoOf(dir.fd(), name, node->dev, node->ino, whichInfo, catalogInfo);
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo) {
    if (!spec || !fndrInfo)
        return paramErr;
    return FSGetCatalogInfo(&spec->ref, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr);
}

OSErr FSFindFolder(FSVolumeRefNum /*vRefNum*/, OSType folderType, Boolean createFolder,
                   FSRef* foundRef) {
    if (!foundRef)
        return paramErr;
    if (folderType != kTemporaryFolderType)
        return fnfErr;
    const char* tmpdir = getenv("TMPDIR");
    if (tmpdir && *tmpdir && access(tmpdir, W_OK | X_OK) == 0) {
        Boolean folder = false;
        FSRef ref;
        if (ResolvePath(tmpdir, true, &ref, &folder) == noErr && folder) {
            *foundRef = ref;
            return noErr;
        }
    }
    Boolean folder = false;
    OSErr status = ResolvePath("/tmp", true, foundRef, &folder);
    if (status == fnfErr && createFolder) {
        if (mkdir("/tmp", 01777) != 0 && errno != EEXIST)
            return LastStatus();
        chmod("/tmp", 01777);
        status = ResolvePath("/tmp", true, foundRef, &folder);
    }
    if (status == noErr && !folder)
        return fnfErr;
    return status;
}

OSErr PBHGetVolParmsSync(HParmBlkPtr paramBlock) {
    if (!paramBlock || !paramBlock->ioBuffer || paramBlock->ioReqCount <= 0)
        return paramErr;
    long fsType;
    {
        std::lock_guard<std::recursive_mutex> lock(Lock());
        int index = kFirstVolume - paramBlock->ioVRefNum;
        auto& volumes = Volumes();
        if (index < 0 || size_t(index) >= volumes.size())
            return paramBlock->ioResult = nsvErr;
        fsType = volumes[size_t(index)].fsType;
    }
    GetVolParmsInfoBuffer parms{};
    parms.vMVersion = 4;
    parms.vMAttrib = 0;
    parms.vMExtendedAttributes = ExchangesNatively(fsType) ? (1 << bSupportsFSExchangeObjects) : 0;
    parms.vMMaxNameLength = NAME_MAX;
    size_t n = size_t(paramBlock->ioReqCount) < sizeof parms ? size_t(paramBlock->ioReqCount)
                                                             : sizeof parms;
    memcpy(paramBlock->ioBuffer, &parms, n);
    paramBlock->ioActCount = SInt32(n);
    return paramBlock->ioResult = noErr;
}

OSErr FSGetVolParms(FSVolumeRefNum volRefNum, ByteCount bufferSize,
                    GetVolParmsInfoBuffer* volParmsInfo, ByteCount* actualInfoSize) {
    HParamBlockRec pb{};
    pb.ioVRefNum = volRefNum;
    pb.ioBuffer = volParmsInfo;
    pb.ioReqCount = SInt32(bufferSize);
    OSErr status = PBHGetVolParmsSync(&pb);
    if (status == noErr && actualInfoSize)
        *actualInfoSize = ByteCount(pb.ioActCount);
    return status;
}
