// File manager over POSIX: the Carbon-style file-reference calls, in their
// classic signatures, implemented with fd-relative system calls.
//
// Contract, once for every call below:
// - An `FSRef` names one existing object by its folder chain and its name on
//   disk (plus the device and inode seen when the reference was made). It is
//   a small value: copying it shares an immutable, reference-counted record.
//   Copy it with `=`, never with memcpy/memset. A default-constructed FSRef is
//   empty; every call given an empty or null reference answers paramErr.
// - No call ever follows a symbolic link, except `FSPathMakeRef` (every
//   component) and `FSPathMakeRefWithOptions` (every component but the last
//   with kFSPathMakeRefDoNotFollowLeafSymlink). A reference made for a link
//   names the link; its catalog information describes the link.
// - Catalog information comes from statx without opening the object. The
//   locked flag (kFSNodeLockedMask) is the inode's immutable flag.
// - Names cross between bytes and UTF-16 as UTF-8; a byte that is not part of
//   valid UTF-8 becomes the lone surrogate U+DC80..U+DCFF and back, so every
//   name on disk survives the round trip. `FSPathMakeRef` takes strict UTF-8.
// - The data fork (empty name) is the file's content; a named fork N is the
//   extended attribute "user." + UTF-8(N).
// - Statuses: ENOENT/ENOTDIR -43, ENOTEMPTY/EBUSY -47, EEXIST -48, EXDEV
//   -1303, bad arguments -50 (one table in FileManager.cpp).
//
// Example:
//   FSRef ref;
//   if (FSPathMakeRef((const UInt8*)"/tmp/x", &ref, nullptr) == noErr) {
//     FSCatalogInfo info;
//     FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr);
//     bool folder = info.nodeFlags & kFSNodeIsDirectoryMask;
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "platform/CoreFoundation.h" // MacTypes.h: the shared types and statuses

typedef unsigned long ByteCount;
typedef unsigned long ItemCount;
typedef uint32_t OptionBits;
typedef uint32_t TextEncoding;

// Statuses of the file manager beyond the shared list. The errno table in
// FileManager.cpp says which system error gives which status.
#ifndef ORVIK_FILEMANAGER_STATUS_CODES
#define ORVIK_FILEMANAGER_STATUS_CODES
enum : int16_t {
    dskFulErr = -34, // ENOSPC, EDQUOT
    nsvErr = -35,    // no such volume
    bdNamErr = -37,  // a name that cannot exist on disk
    fnOpnErr = -38,  // fork not open
    posErr = -40,    // position before the start of a fork
    tmfoErr = -42,   // EMFILE, ENFILE, fork table full
    rfNumErr = -51,  // bad fork reference number
    wrPermErr = -61, // fork not open for writing
    errFSRefsDifferent = -1420,
    errFSForkExists = -1421,
    errFSBadIteratorFlags = -1422,
    errFSIteratorNotSupported = -1424,
    errFSNameTooLong = -1430, // ENAMETOOLONG
    pathTooLongErr = -2110,   // FSRefMakePath buffer too small
};
#endif

// ---- File references and names ----
struct OrvikFSNode; // the shared record; defined in FileManager.cpp

struct FSRef {
    FSRef() noexcept = default;
    FSRef(const FSRef& other) noexcept;
    FSRef(FSRef&& other) noexcept;
    FSRef& operator=(const FSRef& other) noexcept;
    FSRef& operator=(FSRef&& other) noexcept;
    ~FSRef();

    OrvikFSNode* node = nullptr; // null: empty reference
};
typedef FSRef* FSRefPtr;

struct HFSUniStr255 {
    UInt16 length;
    UniChar unicode[255];
};
typedef const HFSUniStr255* ConstHFSUniStr255Param;

typedef SInt16 FSVolumeRefNum;
typedef SInt16 FSIORefNum;

// Old-style file specification; only FSCreateFileUnicode fills one and only
// FSpSetFInfo reads it (the record carries a reference for that purpose).
struct FSSpec {
    FSVolumeRefNum vRefNum;
    SInt32 parID;
    UInt8 name[64]; // Pascal string, at most 63 bytes
    FSRef ref;
};
typedef FSSpec* FSSpecPtr;

struct Point {
    SInt16 v;
    SInt16 h;
};
struct FInfo {
    OSType fdType;
    OSType fdCreator;
    UInt16 fdFlags;
    Point fdLocation;
    SInt16 fdFldr;
};
struct FileInfo { // the Finder information of a file, as in catalog records
    OSType fileType;
    OSType fileCreator;
    UInt16 finderFlags;
    Point location;
    UInt16 reservedField;
};

// ---- Catalog information ----
struct UTCDateTime { // seconds since 1904-01-01 UTC, 48 bits, and 1/65536 s
    UInt16 highSeconds;
    UInt32 lowSeconds;
    UInt16 fraction;
};

struct FSPermissionInfo {
    UInt32 userID;
    UInt32 groupID;
    UInt8 reserved1;
    UInt8 userAccess;
    UInt16 mode; // POSIX st_mode: type bits and the low 12 bits
    UInt32 reserved2;
};

typedef UInt32 FSCatalogInfoBitmap;
enum : FSCatalogInfoBitmap {
    kFSCatInfoNone = 0x00000000,
    kFSCatInfoTextEncoding = 0x00000001,
    kFSCatInfoNodeFlags = 0x00000002,
    kFSCatInfoVolume = 0x00000004,
    kFSCatInfoParentDirID = 0x00000008,
    kFSCatInfoNodeID = 0x00000010,
    kFSCatInfoCreateDate = 0x00000020,
    kFSCatInfoContentMod = 0x00000040,
    kFSCatInfoAttrMod = 0x00000080,
    kFSCatInfoAccessDate = 0x00000100,
    kFSCatInfoBackupDate = 0x00000200,
    kFSCatInfoPermissions = 0x00000400,
    kFSCatInfoFinderInfo = 0x00000800,
    kFSCatInfoFinderXInfo = 0x00001000,
    kFSCatInfoValence = 0x00002000,
    kFSCatInfoDataSizes = 0x00004000,
    kFSCatInfoRsrcSizes = 0x00008000,
    kFSCatInfoSharingFlags = 0x00010000,
    kFSCatInfoUserPrivs = 0x00020000,
    kFSCatInfoUserAccess = 0x00080000,
    kFSCatInfoSetOwnership = 0x00100000, // a refused owner change is an error
    kFSCatInfoAllDates = 0x000003E0,
    kFSCatInfoGettableInfo = 0x0003FFFF,
    kFSCatInfoSettableInfo = 0x00001FE3,
};

enum : UInt16 {
    kFSNodeLockedBit = 0,
    kFSNodeLockedMask = 0x0001,
    kFSNodeResOpenMask = 0x0004,
    kFSNodeDataOpenMask = 0x0008,
    kFSNodeIsDirectoryBit = 4,
    kFSNodeIsDirectoryMask = 0x0010,
    kFSNodeForkOpenMask = 0x0080,
    kFSNodeHardLinkMask = 0x0100,
};

// Finder information of a symbolic link, as the platform reports it.
enum : OSType {
    kSymLinkFileType = 0x736C6E6B, // 'slnk'
    kSymLinkCreator = 0x72686170,  // 'rhap'
};

struct FSCatalogInfo {
    UInt16 nodeFlags;      // kFSNodeLockedMask, kFSNodeIsDirectoryMask
    FSVolumeRefNum volume; // small negative number per device
    UInt32 parentDirID;    // low 32 bits of the parent's inode
    UInt32 nodeID;         // low 32 bits of the inode
    UInt8 sharingFlags;
    UInt8 userPrivileges;
    UInt8 reserved1;
    UInt8 reserved2;
    UTCDateTime createDate;       // statx birth time (else the change time)
    UTCDateTime contentModDate;   // mtime
    UTCDateTime attributeModDate; // ctime
    UTCDateTime accessDate;       // atime
    UTCDateTime backupDate;       // always zero
    FSPermissionInfo permissions;
    UInt8 finderInfo[16]; // FileInfo: zero, 'slnk'/'rhap' for a link
    UInt8 extFinderInfo[16];
    UInt64 dataLogicalSize;  // st_size
    UInt64 dataPhysicalSize; // st_blocks * 512
    UInt64 rsrcLogicalSize;  // sum of the named forks' sizes
    UInt64 rsrcPhysicalSize;
    UInt32 valence; // entries of a folder
    TextEncoding textEncodingHint;
};
typedef FSCatalogInfo* FSCatalogInfoPtr;

enum : TextEncoding { kTextEncodingUnknown = 0xFFFF };

// ---- Path <-> reference ----
enum : OptionBits {
    kFSPathMakeRefDefaultOptions = 0,
    kFSPathMakeRefDoNotFollowLeafSymlink = 1,
};

// Resolves a UTF-8 POSIX path (relative paths from the working folder),
// following every symbolic link; -43 when nothing exists or the bytes are not
// UTF-8. isDirectory (may be null) tells whether the object is a folder.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
// As FSPathMakeRef; option 1 keeps a final symbolic link (the ref names it).
OSStatus FSPathMakeRefWithOptions(const UInt8* path, OptionBits options, FSRef* ref,
                                  Boolean* isDirectory);
// The object's absolute POSIX path (raw bytes) with a terminating zero;
// pathTooLongErr when it needs more than maxPathSize bytes.
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
// Looks a name up in a folder without following a link; -43 when absent.
OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                         TextEncoding textEncodingHint, FSRef* newRef);
// noErr when both name the same object (device and inode), else
// errFSRefsDifferent.
OSErr FSCompareFSRefs(const FSRef* ref1, const FSRef* ref2);

struct FSRefParam { // parameter block of PBMakeFSRefUnicodeSync
    void* qLink;
    SInt16 qType;
    SInt16 ioTrap;
    void* ioCmdAddr;
    void* ioCompletion;
    OSErr ioResult;
    const UInt8* ioNamePtr;
    SInt16 ioVRefNum;
    SInt16 reserved1;
    UInt8 reserved2;
    UInt8 reserved3;
    const FSRef* ref;
    FSCatalogInfoBitmap whichInfo;
    FSCatalogInfo* catInfo;
    UniCharCount nameLength;
    const UniChar* name;
    SInt32 ioDirID;
    FSSpecPtr spec;
    FSRef* parentRef;
    FSRef* newRef;
    TextEncoding textEncodingHint;
    HFSUniStr255* outName;
};
typedef FSRefParam* FSRefParamPtr;
// Uses ref, nameLength, name, textEncodingHint; writes newRef and ioResult.
OSErr PBMakeFSRefUnicodeSync(FSRefParam* paramBlock);

// ---- Catalog information ----
// Reads the fields named by whichInfo (others are not written), the object's
// name, and its parent folder's reference (empty for "/").
OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpecPtr fsSpec, FSRef* parentRef);
// Writes the fields named by whichInfo that POSIX can hold: node flags (the
// locked flag), permissions (owner, group, low 12 bits of the mode), content
// modification and access dates. Others (Finder information, creation and
// backup dates, text encoding) are accepted and dropped.
OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* catalogInfo);
// Finder information has no POSIX home: checks the object exists, drops the rest.
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo);

// ---- Folder iteration ----
typedef struct OpaqueFSIterator* FSIterator;
typedef OptionBits FSIteratorFlags;
enum : FSIteratorFlags {
    kFSIterateFlat = 0,
    kFSIterateSubtree = 1, // not supported: errFSIteratorNotSupported
    kFSIterateDelete = 2,  // entries may be deleted while iterating
    kFSIterateReserved = 0xFFFFFFFC,
};
// Opens an iterator over the entries directly inside a folder ("." and ".."
// never appear; a link is an entry of its own).
OSErr FSOpenIterator(const FSRef* container, FSIteratorFlags iteratorFlags, FSIterator* iterator);
OSErr FSCloseIterator(FSIterator iterator);
// Up to maximumObjects entries; any of the output arrays may be null.
// errFSNoMoreItems (with *actualObjects 0) at the end.
OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount* actualObjects,
                           Boolean* containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo* catalogInfos, FSRef* refs, FSSpecPtr specs,
                           HFSUniStr255* names);

// ---- Create, delete, move ----
// Creates a new file (exclusive: dupFNErr if the name exists), then applies
// the catalog fields named by whichInfo. newRef and newSpec may be null.
OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpecPtr newSpec);
OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                               FSRef* newRef, FSSpecPtr newSpec, UInt32* newDirID);
// Deletes one object (a folder only when empty): fBsyErr for a folder that
// is not empty, a locked object gives permErr.
OSErr FSDeleteObject(const FSRef* ref);
// Moves into another folder under the same name; dupFNErr if taken there,
// diffVolErr across devices.
OSErr FSMoveObject(const FSRef* ref, const FSRef* destDirectory, FSRef* newRef);
OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name,
                      TextEncoding textEncodingHint, FSRef* newRef);
// Swaps the contents of two files (renameat2 RENAME_EXCHANGE); mode, owner,
// access time and flags stay with the names, the modification time goes with
// the data. notAFileErr for a folder, diffVolErr across devices, paramErr when
// the file system refuses the exchange; a failure changes nothing.
OSErr FSExchangeObjects(const FSRef* ref, const FSRef* destRef);

// ---- Forks ----
enum : SInt8 {
    fsCurPerm = 0,
    fsRdPerm = 1,
    fsWrPerm = 2,
    fsRdWrPerm = 3,
    fsRdWrShPerm = 4,
    fsRdDenyPerm = 0x10,
    fsWrDenyPerm = 0x20,
};
enum : UInt16 { // position modes; the cache bits 0x10, 0x20 are ignored
    fsAtMark = 0,
    fsFromStart = 1,
    fsFromLEOF = 2,
    fsFromMark = 3,
    pleaseCacheMask = 0x0010,
    noCacheMask = 0x0020,
};
typedef UInt16 FSAllocationFlags;
enum : FSAllocationFlags {
    kFSAllocDefaultFlags = 0,
    kFSAllocAllOrNothingMask = 1,
    kFSAllocContiguousMask = 2,
    kFSAllocNoRoundUpMask = 4,
};
struct CatPositionRec { // fork iterator: set initialize to 0 before the first call
    SInt32 initialize;
    SInt16 priv[6];
};

OSErr FSGetDataForkName(HFSUniStr255* dataForkName);         // empty name
OSErr FSGetResourceForkName(HFSUniStr255* resourceForkName); // "RESOURCE_FORK"
// Lists the data fork (regular files only), then every named fork;
// errFSNoMoreItems after the last. Any output may be null.
OSErr FSIterateForks(const FSRef* ref, CatPositionRec* forkIterator, HFSUniStr255* forkName,
                     SInt64* forkSize, UInt64* forkPhysicalSize);
// Creates an empty named fork; errFSForkExists if it exists (the data fork
// always exists).
OSErr FSCreateFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName);
OSErr FSDeleteFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName);
// Opens a fork of a regular file (notAFileErr otherwise) at position 0.
// Deny modes are accepted and not enforced.
OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                 SInt8 permissions, FSIORefNum* forkRefNum);
// Reads/writes requestCount bytes at the position given, then leaves the
// mark after them; actualCount (may be null) gets the bytes moved. A read
// that reaches the end early gives eofErr.
OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 ByteCount requestCount, void* buffer, ByteCount* actualCount);
OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                  ByteCount requestCount, const void* buffer, ByteCount* actualCount);
OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position);
// eofErr past the logical end, posErr before the start.
OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* forkSize);
OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
// Reserves space (fallocate, keeping the size; on tmpfs a check for free
// space, since there it would zero-fill pages); dskFulErr when it cannot.
OSErr FSAllocateFork(FSIORefNum forkRefNum, FSAllocationFlags flags, UInt16 positionMode,
                     SInt64 positionOffset, UInt64 requestCount, UInt64* actualCount);
OSErr FSFlushFork(FSIORefNum forkRefNum);
// Closes the fork; a named fork is written back to its attribute here.
OSErr FSCloseFork(FSIORefNum forkRefNum);
// One step of a fork copy: moves up to requestCount bytes from the source's
// mark to the destination's mark in one call (copy_file_range, else a read
// into scratch and a write; scratch must hold requestCount bytes). Both marks
// advance by the bytes moved. eofErr when the source ended first.
OSErr FSCopyForkChunk(FSIORefNum sourceRefNum, FSIORefNum destRefNum, ByteCount requestCount,
                      void* scratch, ByteCount* actualCount);

// ---- Folders and volumes ----
enum : SInt16 {
    kOnSystemDisk = -32768,
    kOnAppropriateDisk = -32767,
    kSystemDomain = -32766,
    kLocalDomain = -32764,
    kUserDomain = -32763,
};
enum : OSType { kTemporaryFolderType = 0x74656D70 }; // 'temp'
enum : Boolean { kDontCreateFolder = 0, kCreateFolder = 1 };
// 'temp': $TMPDIR when it names a usable folder, else /tmp (created when
// missing and createFolder is set). Other folder types give fnfErr.
OSErr FSFindFolder(FSVolumeRefNum vRefNum, OSType folderType, Boolean createFolder,
                   FSRef* foundRef);

struct GetVolParmsInfoBuffer {
    SInt16 vMVersion; // 4
    SInt32 vMAttrib;
    void* vMLocalHand;
    SInt32 vMServerAdr;
    SInt32 vMVolumeGrade;
    SInt16 vMForeignPrivID;
    SInt32 vMExtendedAttributes; // bit 3 (0x8): native FSExchangeObjects
    void* vMDeviceID;
    UInt32 vMMaxNameLength;
};
enum : SInt32 { bSupportsFSExchangeObjects = 3 };

struct HParamBlockRec { // the fields PBHGetVolParmsSync uses
    void* qLink;
    SInt16 qType;
    SInt16 ioTrap;
    void* ioCmdAddr;
    void* ioCompletion;
    OSErr ioResult;
    UInt8* ioNamePtr;
    FSVolumeRefNum ioVRefNum;
    void* ioBuffer;    // a GetVolParmsInfoBuffer
    SInt32 ioReqCount; // bytes the buffer holds
    SInt32 ioActCount; // bytes written
};
typedef HParamBlockRec* HParmBlkPtr;
OSErr PBHGetVolParmsSync(HParmBlkPtr paramBlock);
// Convenience over PBHGetVolParmsSync.
OSErr FSGetVolParms(FSVolumeRefNum volRefNum, ByteCount bufferSize,
                    GetVolParmsInfoBuffer* volParmsInfo, ByteCount* actualInfoSize);

// ---- File URLs (CFURL itself comes from CoreFoundation) ----
// True when the URL's POSIX path names an existing object (links followed).
Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef);
namespace orvik::fm {
// What CFURLGetFSRef gives for the file URL of an absolute UTF-16 path (links
// followed, trailing "/" dropped, U+DC80..U+DCFF back to single bytes), without
// making the URL: the tree operations resolve deep paths millions of times.
// False for a relative path, whose URL the working folder completes.
bool FSRefFromAbsoluteUnits(const UniChar* path, size_t length, FSRef* ref, OSErr* status);
} // namespace orvik::fm
// A file URL of the object's absolute path; null for an empty reference.
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef);

// ---- Name conversion used by the calls above (exposed for the layers) ----
// UTF-16 units to name bytes (lone U+DC80..U+DCFF back to single bytes).
// False for other lone surrogates.
bool FSNameUnicodeToBytes(const UniChar* units, UniCharCount count, char* out, size_t outSize,
                          size_t* outLength);
// Name bytes to UTF-16 (invalid UTF-8 bytes as U+DC80..U+DCFF); false when
// more than outCapacity units are needed.
bool FSNameBytesToUnicode(const char* bytes, size_t length, UniChar* out, size_t outCapacity,
                          UniCharCount* outLength);

// ---- One compound operation ----
// While a scope is open on a thread, what a call learned of an object with its
// statx answers the next file-manager call on that thread about the same
// object (a catalog read of the reference just made, or a resolution of the
// same path text), as long as no other file-manager call came in between; any
// other call, or the end of the scope, forgets it. A compound operation (check
// a file exists, clear its read-only bit, delete it) then looks at each object
// once. The scope must hold only the layer's own calls: code that changes the
// disk by other means between two calls would see the older facts.
namespace orvik::fm {
class CompoundOperation {
public:
    CompoundOperation();
    ~CompoundOperation();
    CompoundOperation(const CompoundOperation&) = delete;
    CompoundOperation& operator=(const CompoundOperation&) = delete;
};
} // namespace orvik::fm

// ---- Removing as root, over folders others may write into ----
namespace orvik::fm {

// While an EntryScope is open on a thread, a path text names the entry
// itself: a final symbolic link is the link (it exists even when it dangles
// or loops), never what it points to. Links in the components before it are
// followed as usual. A deletion opens one, so that neither its existence
// test nor its attribute reset looks through a link.
class EntryScope {
public:
    EntryScope();
    ~EntryScope();
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;
};
// True while an EntryScope or a TreeScope is open on this thread.
bool InEntryScope();

// While a TreeScope is open on a thread, every path text below its folder is
// resolved beneath the folder's descriptor, opened once when the scope
// opened: no symbolic link in any component, the last one included (a link
// there is the entry itself), and no ".." above the folder. The folder's own
// text is resolved as callers name it: links in the components above it are
// followed, a final link is kept, and then nothing lies beneath it. Texts
// outside the folder resolve as usual. A scope opened for a folder inside an
// open one adds nothing.
//
//   TreeScope tree(u"/Applications/App");    // one descriptor of App
//   FSPathMakeRef("/Applications/App/a/b")   // beneath it, fnfErr if a is a link
class TreeScope {
public:
    TreeScope(const UniChar* path, size_t length);
    ~TreeScope();
    TreeScope(const TreeScope&) = delete;
    TreeScope& operator=(const TreeScope&) = delete;
    // The folder's text names a symbolic link.
    bool FolderIsLink() const { return folderIsLink_; }
    struct State; // private to the file manager

private:
    State* state_ = nullptr; // null for a scope nested in another
    bool folderIsLink_ = false;
};

// The names in the folder a reference names, each with whether it is a
// folder itself (a symbolic link never is), in the file system's order. The
// folder is read through its own descriptor; nothing is followed.
//   ReadFolderNames(&ref, [](std::string_view name, bool isFolder) { ... });
OSErr ReadFolderNamesInto(const FSRef* folder, void (*visit)(void*, const char*, size_t, bool),
                          void* context);
template <class Visit> OSErr ReadFolderNames(const FSRef* folder, Visit&& visit) {
    using V = std::remove_reference_t<Visit>;
    return ReadFolderNamesInto(
        folder,
        [](void* context, const char* name, size_t length, bool isFolder) {
            (*static_cast<V*>(context))(std::string_view(name, length), isFolder);
        },
        const_cast<void*>(static_cast<const void*>(&visit)));
}

} // namespace orvik::fm
