// Catalog information over statx, the immutable flag as the locked flag,
// volumes and the temporary-items folder.
//
// Reading never opens the object (a FIFO would block, a device node may act
// on being opened); only the named-fork sizes and a folder's entry count,
// asked for explicitly, open a regular file or a folder for reading.
// Writing follows the order the immutable flag imposes: an immutable object
// refuses chmod, chown and utimes, so the flag is cleared first and set last.
#include "platform/FileManagerInternal.h"

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
#include <cstdio>
#include <cstdlib>
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

// chmod of an object that is neither a link nor opened: through an O_PATH
// descriptor, so a link swapped in meanwhile is never followed.
int ChmodByPath(int dirFd, const char* name, mode_t mode) {
    int p = openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (p < 0)
        return errno;
    struct stat st;
    int error = 0;
    if (fstat(p, &st) != 0) {
        error = errno;
    } else if (S_ISLNK(st.st_mode)) {
        error = 0; // a link has no permissions of its own here
    } else if (syscall(SYS_fchmodat2, p, "", mode, AT_EMPTY_PATH) != 0) {
        char procPath[64];
        snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", p);
        error = chmod(procPath, mode) == 0 ? 0 : errno;
    }
    close(p);
    return error;
}

int GetInodeFlags(int fd, int* flags) {
    return ioctl(fd, FS_IOC_GETFLAGS, flags) == 0 ? 0 : errno;
}

// Sets or clears only FS_IMMUTABLE_FL, then reads the flag back: some file
// systems (overlayfs) report an error and apply the change anyway, so the
// state read afterwards decides.
int ChangeImmutable(int fd, int dirFd, const char* name, bool locked) {
    int flags = 0;
    int error = GetInodeFlags(fd, &flags);
    if (error == 0) {
        flags = locked ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        error = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0 ? 0 : errno;
    }
    struct statx st;
    if (StatxAt(dirFd, name, STATX_TYPE, &st) == 0 &&
        (st.stx_attributes_mask & STATX_ATTR_IMMUTABLE) && IsLocked(st) == locked)
        return 0;
    return error ? error : EPERM;
}

} // namespace

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
    int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_ino != expected.stx_ino ||
        (st.st_mode & S_IFMT) != (expected.stx_mode & S_IFMT)) {
        close(fd);
        errno = ENOENT; // replaced meanwhile
        return -1;
    }
    return fd;
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
        int fd = OpenObjectForAttributes(dirFd, name, st);
        if (fd >= 0) {
            if ((whichInfo & kFSCatInfoValence) && folder)
                info->valence = CountEntries(fd);
            if (whichInfo & kFSCatInfoRsrcSizes)
                info->rsrcLogicalSize = info->rsrcPhysicalSize = NamedForkBytes(fd);
            close(fd);
        }
    }
}

OSErr SetCatalogInfoAt(int dirFd, const char* name, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* info) {
    struct statx st;
    if (int error = StatxAt(dirFd, name, STATX_BASIC_STATS, &st))
        return StatusFromErrno(error);
    bool wasLocked = IsLocked(st);
    bool wantLocked =
        (whichInfo & kFSCatInfoNodeFlags) ? (info->nodeFlags & kFSNodeLockedMask) != 0 : wasLocked;
    bool setOwner = false, setMode = false, setTimes = false;
    uid_t uid = st.stx_uid;
    gid_t gid = st.stx_gid;
    mode_t mode = st.stx_mode & 07777;
    if (whichInfo & kFSCatInfoPermissions) {
        uid = info->permissions.userID;
        gid = info->permissions.groupID;
        mode = info->permissions.mode & 07777;
        setOwner = uid != st.stx_uid || gid != st.stx_gid;
        setMode = !S_ISLNK(st.stx_mode) && mode != (st.stx_mode & 07777);
    }
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (whichInfo & kFSCatInfoAccessDate) {
        int64_t s;
        uint32_t ns;
        FromUTCDateTime(info->accessDate, &s, &ns);
        times[0] = {time_t(s), long(ns)};
        setTimes = true;
    }
    if (whichInfo & kFSCatInfoContentMod) {
        int64_t s;
        uint32_t ns;
        FromUTCDateTime(info->contentModDate, &s, &ns);
        times[1] = {time_t(s), long(ns)};
        setTimes = true;
    }
    bool changesOther = setOwner || setMode || setTimes;
    if (!changesOther && wasLocked == wantLocked)
        return noErr;

    // Regular files and folders are changed through a descriptor of their own,
    // checked to be the inode just examined; links and special files by name
    // without following.
    int fd = -1;
    bool needFd = wasLocked || wantLocked;
    if (S_ISREG(st.stx_mode) || S_ISDIR(st.stx_mode)) {
        fd = OpenObjectForAttributes(dirFd, name, st);
        if (fd < 0 && needFd)
            return LastStatus();
    } else if (needFd) {
        return paramErr; // only files and folders carry the immutable flag
    }
    auto fail = [&](int error) {
        if (fd >= 0)
            close(fd);
        return StatusFromErrno(error);
    };
    bool locked = wasLocked;
    if (locked && (changesOther || !wantLocked)) {
        if (int error = ChangeImmutable(fd, dirFd, name, false))
            return fail(error);
        locked = false;
    }
    if (setOwner) {
        int rc =
            fd >= 0 ? fchown(fd, uid, gid) : fchownat(dirFd, name, uid, gid, AT_SYMLINK_NOFOLLOW);
        // As on the original platform, ownership that cannot be given is only
        // an error when kFSCatInfoSetOwnership asks for it.
        if (rc != 0 && (errno != EPERM || (whichInfo & kFSCatInfoSetOwnership)))
            return fail(errno);
        setMode = !S_ISLNK(st.stx_mode); // chown may have cleared set-id bits
    }
    if (setMode) {
        int error = fd >= 0 ? (fchmod(fd, mode) == 0 ? 0 : errno) : ChmodByPath(dirFd, name, mode);
        if (error)
            return fail(error);
    }
    if (setTimes) {
        int rc = fd >= 0 ? futimens(fd, times) : utimensat(dirFd, name, times, AT_SYMLINK_NOFOLLOW);
        if (rc != 0)
            return fail(errno);
    }
    if (wantLocked && !locked) {
        if (int error = ChangeImmutable(fd, dirFd, name, true))
            return fail(error);
    }
    if (fd >= 0)
        close(fd);
    return noErr;
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
    int p = openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (p >= 0) {
        struct statfs fs;
        if (fstatfs(p, &fs) == 0)
            fsType = fs.f_type;
        close(p);
    }
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
    return SetCatalogInfoAt(dir.fd(), name, whichInfo, catalogInfo);
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
