// Copying and moving one file with Windows semantics, fork by fork, over the file manager.
#include "win32compat/FileCopy.h"
#include "win32compat/Units16.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "strings/UcaString.h"
#include "win32compat/FileHandle.h"
#include "win32compat/FileSystem.h"

using orvik::win::U16;

uint64_t g_copyBufferSize = 0x40000;

namespace {

using orvik::win32file::ModeOf;
using orvik::win32file::PermissionsOf;

constexpr OSType kBusyFileType = 0x627A7920; // 'bzy '
constexpr uint16_t kOwnerReadWriteExecute = 0x01C0;
constexpr FSCatalogInfoBitmap kFlagsPermissionsFinder = 0xC02;
constexpr FSCatalogInfoBitmap kFlagsPermissions = 0x402;
// What the exchange reads (text encoding, node flags, volume, parent, creation, access and
// backup dates, permissions, Finder information) plus the two modification dates, so that
// an undo that rewrites every settable field puts back what was there.
constexpr FSCatalogInfoBitmap kExchangeRead = 0x1F2F | kFSCatInfoContentMod | kFSCatInfoAttrMod;
// What travels with the names: text encoding, node flags, creation, access and backup
// dates, permissions, Finder information.
constexpr FSCatalogInfoBitmap kExchangeSwap = 0x1F23;
constexpr uint32_t kUniqueNameSeed = 0x586E717A; // 'Xnqz'

OSType FinderWord(const FSCatalogInfo& info, size_t offset) {
    OSType value;
    std::memcpy(&value, info.finderInfo + offset, sizeof value);
    return value;
}
void SetFileType(FSCatalogInfo& info, OSType type) {
    std::memcpy(info.finderInfo, &type, sizeof type);
}

bool IsFolder(const FSCatalogInfo& info) {
    return (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
}

// The copy buffer, or null when it cannot be had (a size of 0 cannot move anything).
char* AllocateCopyBuffer() {
    if (g_copyBufferSize == 0 || g_copyBufferSize > SIZE_MAX / 2)
        return nullptr;
    return new (std::nothrow) char[static_cast<size_t>(g_copyBufferSize)];
}

// Copies one fork of `source` into a fork of the same name on `copy`. 0 or the failing
// status.
OSErr CopyFork(const FSRef& source, const FSRef& copy, const HFSUniStr255& name, SInt64 size) {
    // The data fork always exists; creating it again only reports that.
    FSCreateFork(&copy, name.length, name.unicode);
    if (size == 0)
        return noErr;
    FSIORefNum to = 0;
    FSIORefNum from = 0;
    OSErr status = FSOpenFork(&copy, name.length, name.unicode, fsWrPerm, &to);
    const bool toOpen = status == noErr;
    bool fromOpen = false;
    if (status == noErr) {
        status = FSOpenFork(&source, name.length, name.unicode, fsRdPerm, &from);
        fromOpen = status == noErr;
    }
    if (status == noErr)
        status = FSAllocateFork(to, kFSAllocNoRoundUpMask, fsFromStart, 0,
                                static_cast<UInt64>(size), nullptr);
    char* buffer = nullptr;
    if (status == noErr) {
        buffer = AllocateCopyBuffer();
        if (buffer == nullptr)
            status = memFullErr;
    }
    uint64_t remaining = status == noErr ? static_cast<uint64_t>(size) : 0;
    while (status == noErr && remaining > 0) {
        const ByteCount count = static_cast<ByteCount>(std::min(remaining, g_copyBufferSize));
        ByteCount moved = 0;
        status = FSCopyForkChunk(from, to, count, buffer, &moved);
        if (status == noErr && moved != count)
            status = eofErr; // the source shrank while it was copied
        remaining -= moved;
    }
    if (status == noErr && size % 512 != 0)
        status = FSSetForkSize(to, fsFromStart, size);
    delete[] buffer;
    if (toOpen)
        FSCloseFork(to);
    if (fromOpen)
        FSCloseFork(from);
    return status;
}

// Copies every fork in the order the file manager lists them; errFSNoMoreItems when all
// went, else the failing status.
OSErr CopyForks(const FSRef& source, const FSRef& copy) {
    CatPositionRec iterator{};
    iterator.initialize = 0;
    HFSUniStr255 name;
    SInt64 size = 0;
    OSErr status;
    while ((status = FSIterateForks(&source, &iterator, &name, &size, nullptr)) == noErr) {
        status = CopyFork(source, copy, name, size);
        if (status != noErr)
            break;
    }
    return status;
}

// The entry at `name` in `parent` itself, a final symbolic link not followed.
OSErr LookUpEntry(const FSRef& parent, const HFSUniStr255& name, FSRef* entry) {
    return FSMakeFSRefUnicode(&parent, name.length, name.unicode, kTextEncodingUnknown, entry);
}

bool SameObject(const FSRef& a, const FSRef& b) {
    return FSCompareFSRefs(&a, &b) == noErr;
}

} // namespace

BOOL CopyFile(const char16_t* source, const char16_t* destination, bool failIfExists) {
    if (source == nullptr || destination == nullptr || source == destination ||
        ucacmp(source, destination) == 0)
        return FALSE;
    FSRef sourceRef;
    if (GetFSRefFromFilename(source, &sourceRef, false, false) != noErr)
        return FALSE;
    FSRef existing;
    const bool replace = GetFSRefFromFilename(destination, &existing, false, false) == noErr;
    if (replace && (failIfExists || SameObject(sourceRef, existing)))
        return FALSE; // a second spelling of the source must never be deleted below

    FSCatalogInfo info;
    if (FSGetCatalogInfo(&sourceRef, kFSCatInfoGettableInfo, &info, nullptr, nullptr, nullptr) !=
        noErr)
        return FALSE;
    if (IsFolder(info))
        return FALSE; // a folder has no forks to copy; an empty file would stand in for it
    FSRef parent;
    HFSUniStr255 name;
    if (GetParentFSRAndNameFromFilePath(destination, &parent, &name) != noErr)
        return FALSE;
    if (replace) {
        // Replace the entry at the destination's name: a symbolic link there goes itself,
        // what it points to is not deleted through it.
        FSRef entry;
        if (LookUpEntry(parent, name, &entry) != noErr || SameObject(sourceRef, entry) ||
            FSDeleteObject(&entry) != noErr)
            return FALSE;
    }

    const OSType fileType = FinderWord(info, 0);
    const UInt16 nodeFlags = info.nodeFlags;
    const FSPermissionInfo permissions = PermissionsOf(info);
    const bool isLink = fileType == kSymLinkFileType && FinderWord(info, 4) == kSymLinkCreator;
    SetFileType(info, kBusyFileType);
    info.nodeFlags = static_cast<UInt16>(info.nodeFlags & ~kFSNodeLockedMask);
    ModeOf(info) |= kOwnerReadWriteExecute;

    FSRef copy;
    FSSpec copySpec;
    OSErr status = FSCreateFileUnicode(&parent, name.length, name.unicode, kFSCatInfoSettableInfo,
                                       &info, &copy, isLink ? &copySpec : nullptr);
    const bool created = status == noErr;
    if (created)
        status = CopyForks(sourceRef, copy);
    if (created && status == errFSNoMoreItems) {
        SetFileType(info, fileType);
        info.nodeFlags = nodeFlags;
        PermissionsOf(info) = permissions;
        if (isLink) {
            status = FSSetCatalogInfo(&copy, kFlagsPermissions, &info);
            if (status == noErr) {
                FInfo finder{};
                finder.fdType = fileType;
                finder.fdCreator = FinderWord(info, 4);
                status = FSpSetFInfo(&copySpec, &finder);
            }
        } else {
            status = FSSetCatalogInfo(&copy, kFlagsPermissionsFinder, &info);
        }
    }
    // A name that already existed (-48) is not ours, and is caught by `created`: whatever
    // this call created and could not finish is removed, so no partial copy remains.
    if (status != noErr && created) {
        FSCatalogInfo unlock{}; // node flags 0: a lock set by the last write goes again
        FSSetCatalogInfo(&copy, kFSCatInfoNodeFlags, &unlock);
        FSDeleteObject(&copy);
    }
    return status == noErr ? TRUE : FALSE;
}
BOOL CopyFile(const unsigned short* source, const unsigned short* destination, bool failIfExists) {
    return CopyFile(U16(source), U16(destination), failIfExists);
}

OSErr GenerateUniqueHFSUniStr(uint32_t* seed, const FSRef* folder1, const FSRef* folder2,
                              HFSUniStr255* name) {
    if (seed == nullptr || folder1 == nullptr || folder2 == nullptr || name == nullptr)
        return paramErr;
    static const char16_t kHex[] = u"0123456789ABCDEF";
    for (;;) {
        const uint32_t value = (*seed)++;
        name->length = 8;
        for (int i = 0; i < 8; ++i)
            name->unicode[i] = kHex[(value >> (28 - 4 * i)) & 0xF];
        FSRef found;
        OSErr err = LookUpEntry(*folder1, *name, &found);
        if (err == fnfErr)
            err = LookUpEntry(*folder2, *name, &found);
        if (err == fnfErr)
            return noErr;
        if (err != noErr)
            return err;
    }
}

namespace {

// One object taking part in an emulated exchange: where it is now, and what it was.
struct ExchangeSide {
    FSRef ref;
    FSCatalogInfo info;
    HFSUniStr255 name;
    FSRef parent;
};

OSErr Rename(FSRef* ref, const HFSUniStr255& name) {
    FSRef renamed;
    const OSErr err =
        FSRenameUnicode(ref, name.length, name.unicode, kTextEncodingUnknown, &renamed);
    if (err == noErr)
        *ref = renamed;
    return err;
}

OSErr Move(FSRef* ref, const FSRef& folder) {
    FSRef moved;
    const OSErr err = FSMoveObject(ref, &folder, &moved);
    if (err == noErr)
        *ref = moved;
    return err;
}

// The steps of the emulation in order; each has its undo.
enum ExchangeStep {
    kRenameSourceToTemp,
    kRenameDestToTemp,
    kMoveSource,
    kMoveDest,
    kSwapSourceInfo,
    kSwapDestInfo,
    kRenameSourceToDestName,
    kRenameDestToSourceName,
    kStepCount
};

OSErr DoStep(int step, ExchangeSide& s, ExchangeSide& d, const HFSUniStr255& temp1,
             const HFSUniStr255& temp2, bool sameParent) {
    switch (step) {
    case kRenameSourceToTemp:
        return Rename(&s.ref, temp1);
    case kRenameDestToTemp:
        return Rename(&d.ref, temp2);
    case kMoveSource:
        if (sameParent)
            return noErr;
        return Move(&s.ref, d.parent);
    case kMoveDest:
        if (sameParent)
            return noErr;
        return Move(&d.ref, s.parent);
    case kSwapSourceInfo:
        return FSSetCatalogInfo(&s.ref, kExchangeSwap, &d.info);
    case kSwapDestInfo:
        return FSSetCatalogInfo(&d.ref, kExchangeSwap, &s.info);
    case kRenameSourceToDestName:
        return Rename(&s.ref, d.name);
    case kRenameDestToSourceName:
        return Rename(&d.ref, s.name);
    default:
        return paramErr;
    }
}

void UndoStep(int step, ExchangeSide& s, ExchangeSide& d, const HFSUniStr255& temp1,
              const HFSUniStr255& temp2, bool sameParent) {
    switch (step) {
    case kRenameSourceToTemp:
        Rename(&s.ref, s.name);
        break;
    case kRenameDestToTemp:
        Rename(&d.ref, d.name);
        break;
    case kMoveSource:
        if (!sameParent)
            Move(&s.ref, s.parent);
        break;
    case kMoveDest:
        if (!sameParent)
            Move(&d.ref, d.parent);
        break;
    case kSwapSourceInfo:
        FSSetCatalogInfo(&s.ref, kFSCatInfoSettableInfo, &s.info);
        break;
    case kSwapDestInfo:
        FSSetCatalogInfo(&d.ref, kFSCatInfoSettableInfo, &d.info);
        break;
    case kRenameSourceToDestName:
        Rename(&s.ref, temp1);
        break;
    case kRenameDestToSourceName:
        Rename(&d.ref, temp2);
        break;
    default:
        break;
    }
}

} // namespace

OSErr FSExchangeObjectsEmulated(const FSRef* source, const FSRef* destination, FSRef* newSource,
                                FSRef* newDestination) {
    if (source == nullptr || destination == nullptr || newSource == nullptr ||
        newDestination == nullptr)
        return paramErr;
    *newSource = *source;
    *newDestination = *destination;
    ExchangeSide s;
    ExchangeSide d;
    s.ref = *source;
    d.ref = *destination;
    OSErr err = FSGetCatalogInfo(source, kExchangeRead, &s.info, &s.name, nullptr, &s.parent);
    if (err == noErr)
        err = FSGetCatalogInfo(destination, kExchangeRead, &d.info, &d.name, nullptr, &d.parent);
    if (err != noErr)
        return err;
    if (s.info.volume != d.info.volume)
        return diffVolErr;
    if (IsFolder(s.info) || IsFolder(d.info))
        return notAFileErr;

    uint32_t seed = kUniqueNameSeed;
    HFSUniStr255 temp1;
    HFSUniStr255 temp2;
    err = GenerateUniqueHFSUniStr(&seed, &s.parent, &d.parent, &temp1);
    if (err == noErr)
        err = GenerateUniqueHFSUniStr(&seed, &s.parent, &d.parent, &temp2);
    if (err != noErr)
        return err;

    const bool sameParent = SameObject(s.parent, d.parent);
    int step = 0;
    for (; step < kStepCount; ++step) {
        err = DoStep(step, s, d, temp1, temp2, sameParent);
        if (err != noErr)
            break;
    }
    if (err != noErr) {
        while (step-- > 0)
            UndoStep(step, s, d, temp1, temp2, sameParent);
        return err;
    }
    // The destination's object now sits at the source's name, and the other way round.
    *newSource = d.ref;
    *newDestination = s.ref;
    return noErr;
}

namespace {

// The platform's exchange; afterwards the outputs name what now lies at each name.
OSErr ExchangeNatively(const FSRef* source, const FSRef* destination, FSRef* newSource,
                       FSRef* newDestination) {
    HFSUniStr255 sourceName;
    HFSUniStr255 destName;
    FSRef sourceParent;
    FSRef destParent;
    const bool named = FSGetCatalogInfo(source, kFSCatInfoNone, nullptr, &sourceName, nullptr,
                                        &sourceParent) == noErr &&
                       FSGetCatalogInfo(destination, kFSCatInfoNone, nullptr, &destName, nullptr,
                                        &destParent) == noErr;
    const OSErr err = FSExchangeObjects(source, destination);
    if (err == noErr && named) {
        FSRef atSource;
        FSRef atDest;
        if (LookUpEntry(sourceParent, sourceName, &atSource) == noErr &&
            LookUpEntry(destParent, destName, &atDest) == noErr) {
            *newSource = atSource;
            *newDestination = atDest;
        }
    }
    return err;
}

} // namespace

OSErr FSExchangeObjectsCompat(const FSRef* source, const FSRef* destination, FSRef* newSource,
                              FSRef* newDestination) {
    if (source == nullptr || destination == nullptr || newSource == nullptr ||
        newDestination == nullptr)
        return paramErr;
    *newSource = *source;
    *newDestination = *destination;
    FSCatalogInfo info;
    if (FSGetCatalogInfo(source, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr) == noErr) {
        GetVolParmsInfoBuffer parms{};
        ByteCount actual = 0;
        // A file system may still refuse the exchange (-50), having changed nothing: the
        // emulation does it then.
        if (FSGetVolParms(info.volume, sizeof parms, &parms, &actual) == noErr &&
            parms.vMVersion >= 3 &&
            (parms.vMExtendedAttributes & (1 << bSupportsFSExchangeObjects)) != 0) {
            const OSErr err = ExchangeNatively(source, destination, newSource, newDestination);
            if (err != paramErr)
                return err;
        }
    }
    return FSExchangeObjectsEmulated(source, destination, newSource, newDestination);
}

namespace {

// The placeholder MoveFile made goes again, but only while it is still the empty file it
// was made as.
void DeletePlaceholder(const FSRef& placeholder) {
    FSCatalogInfo info;
    if (FSGetCatalogInfo(&placeholder,
                         kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes, &info,
                         nullptr, nullptr, nullptr) == noErr &&
        !IsFolder(info) && info.dataLogicalSize == 0 && info.rsrcLogicalSize == 0)
        FSDeleteObject(&placeholder);
}

// Creates the empty file that the exchange swaps with; the name must be free, so that
// the file exchanged is certainly this call's own.
OSErr CreatePlaceholder(const char16_t* path, FSRef* placeholder) {
    FSRef parent;
    HFSUniStr255 name;
    const OSErr err = GetParentFSRAndNameFromFilePath(path, &parent, &name);
    if (err != noErr)
        return err;
    return FSCreateFileUnicode(&parent, name.length, name.unicode, kFSCatInfoNone, nullptr,
                               placeholder, nullptr);
}

// Copies and then deletes the source; when the source cannot be deleted the copy goes
// again, so that exactly one of the two remains.
BOOL CopyThenDelete(const char16_t* existing, const char16_t* target) {
    if (!CopyFile(existing, target, false))
        return FALSE;
    if (DeleteFile(existing))
        return TRUE;
    DeleteFile(target);
    return FALSE;
}

} // namespace

BOOL MoveFile(const char16_t* existing, const char16_t* newPath) {
    if (existing == nullptr || newPath == nullptr)
        return FALSE;
    if (existing == newPath || ucacmp(existing, newPath) == 0)
        return TRUE;

    FSRef target;
    bool intoFolder = false;
    if (GetFSRefFromFilename(newPath, &target, false, false) == noErr) {
        FSCatalogInfo info;
        if (FSGetCatalogInfo(&target, kFSCatInfoGettableInfo, &info, nullptr, nullptr, nullptr) !=
            noErr)
            return FALSE;
        if ((ModeOf(info) & orvik::win32file::kModeFolder) == 0)
            return FALSE;
        intoFolder = true;
    } else {
        const size_t length = ucalen(newPath);
        if (length > 0 && newPath[length - 1] == u'/')
            return FALSE;
    }

    FSRef source;
    if (GetFSRefFromFilename(existing, &source, false, false) != noErr)
        return FALSE;
    FSRef placeholder;
    if (!intoFolder && CreatePlaceholder(newPath, &placeholder) != noErr)
        return FALSE;

    OSErr status;
    FSRef atSourceName;
    FSRef atNewName;
    if (intoFolder)
        status = FSMoveObject(&source, &target, nullptr);
    else
        status = FSExchangeObjectsCompat(&source, &placeholder, &atSourceName, &atNewName);

    if (status == noErr) {
        if (intoFolder || DeleteFile(existing))
            return TRUE;
        // The old path cannot be deleted: the exchange is taken back, so that a move that
        // fails changes nothing. Should that fail too, the new path holds the only copy of
        // the data and stays.
        FSRef back;
        FSRef forth;
        if (FSExchangeObjectsCompat(&atSourceName, &atNewName, &back, &forth) == noErr)
            DeletePlaceholder(placeholder);
        return FALSE;
    }
    if (status == diffVolErr || status == paramErr) {
        std::u16string copyTarget = newPath;
        if (intoFolder) {
            FSRef parent;
            HFSUniStr255 name;
            if (GetParentFSRAndNameFromFilePath(existing, &parent, &name) != noErr)
                return FALSE;
            if (copyTarget.empty() || copyTarget.back() != u'/')
                copyTarget.push_back(u'/');
            copyTarget.append(name.unicode, name.unicode + name.length);
        } else {
            DeletePlaceholder(placeholder);
        }
        return CopyThenDelete(existing, copyTarget.c_str());
    }
    if (!intoFolder)
        DeletePlaceholder(placeholder);
    return FALSE;
}
BOOL MoveFile(const unsigned short* existing, const unsigned short* newPath) {
    return MoveFile(U16(existing), U16(newPath));
}
