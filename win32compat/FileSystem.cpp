// Whole-file and whole-folder operations with Windows names over the file manager.
#include "win32compat/FileSystem.h"
#include "win32compat/Units16.h"

#include <cassert>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/CoreFoundation.h"
#include "strings/AtlString.h"
#include "strings/UcaString.h"
#include "win32compat/FileHandle.h"

using orvik::win::U16;

namespace {

using orvik::win32file::ModeOf;

constexpr OSType kTemporaryItemsFolder = 0x74656D70; // 'temp'
constexpr FSVolumeRefNum kUserDomainFolders = -32763;
constexpr OptionBits kKeepLastLink = 1; // FSPathMakeRefWithOptions: do not follow the leaf

template <class Ch> bool IsDotOrDotDot(const Ch* name, size_t length) {
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

// Trims the trailing separators of an 8-bit path, so that a final symbolic link is named
// by the link itself ("link/" would name what it points to); false when the path ends in
// "." or "..", or is the root.
bool TrimToEntry(std::string& bytes) {
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    const size_t slash = bytes.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return !bytes.empty() && bytes != "/" &&
           !IsDotOrDotDot(bytes.data() + start, bytes.size() - start);
}

// True when the path holds a lone U+DC80..U+DCFF: a byte of a name that is not UTF-8.
bool HasEscapedBytes(const char16_t* path, size_t units) {
    for (size_t i = 0; i < units; ++i) {
        const char16_t c = path[i];
        const bool paired = i > 0 && path[i - 1] >= 0xD800 && path[i - 1] <= 0xDBFF;
        if (c >= 0xDC80 && c <= 0xDCFF && !paired)
            return true;
    }
    return false;
}

// The entry a path names, following links in every component but the last, which is
// looked up in its folder as it is: a symbolic link there is the entry itself. A last
// component "." or ".." names a folder only by way of what precedes it, perhaps a link,
// and the root has no name in a folder: like rm(1), the deleters refuse those. A path
// whose bytes are UTF-8 is resolved whole; one holding names that are not goes through
// its folder's reference and the name's units.
OSErr ResolveEntry(const char16_t* path, FSRef* ref) {
    const size_t units = ucalen(path);
    std::string bytes(units * 3 + 1, '\0');
    size_t length = 0;
    if (!FSNameUnicodeToBytes(reinterpret_cast<const UniChar*>(path), units, bytes.data(),
                              bytes.size(), &length))
        return fnfErr;
    bytes.resize(length);
    if (!HasEscapedBytes(path, units)) {
        if (!TrimToEntry(bytes))
            return paramErr;
        return static_cast<OSErr>(FSPathMakeRefWithOptions(
            reinterpret_cast<const UInt8*>(bytes.c_str()), kKeepLastLink, ref, nullptr));
    }
    FSRef parent;
    HFSUniStr255 name;
    const OSErr err = GetParentFSRAndNameFromFilePath(path, &parent, &name);
    if (err != noErr)
        return err;
    const UniChar* begin = name.unicode;
    const UniChar* end = begin + name.length;
    if (name.length == 0 || IsDotOrDotDot(begin, name.length) || std::find(begin, end, u'/') != end)
        return paramErr;
    return FSMakeFSRefUnicode(&parent, name.length, name.unicode, kTextEncodingUnknown, ref);
}

// Clears the locked flag of `ref` given its current node flags; the result is not needed,
// the deletion that follows reports what matters. A file with other names is left as it
// is: those names lie outside what is being deleted, and they would show the change.
void Unlock(const FSRef* ref, UInt16 nodeFlags, FSCatalogInfo* info) {
    if ((nodeFlags & kFSNodeLockedMask) == 0 || (nodeFlags & kFSNodeHardLinkMask) != 0)
        return;
    info->nodeFlags = static_cast<UInt16>(nodeFlags & ~kFSNodeLockedMask);
    FSSetCatalogInfo(ref, kFSCatInfoNodeFlags, info);
}

// Deletes everything inside one folder, depth first: each subfolder is emptied before it is
// deleted, and the first failure ends the walk. Entries come from the folder's own iterator
// and are addressed relative to it, so no link is ever followed. The open levels live on a
// stack of their own, so a tree of any depth costs heap, not the call stack.
void FSDeleteFolderLevel(const FSRef* folder, FSDeleteObjectGlobals* globals) {
    struct Level {
        FSIterator iterator;
        FSRef emptying; // the subfolder being emptied, deleted when its level is done
        UInt16 emptyingFlags;
    };
    std::vector<Level> levels;
    auto openLevel = [&](const FSRef* container) {
        FSIterator iterator;
        globals->result = FSOpenIterator(container, kFSIterateFlat | kFSIterateDelete, &iterator);
        if (globals->result == noErr)
            levels.push_back(Level{iterator, FSRef(), 0});
    };
    openLevel(folder);
    while (!levels.empty()) {
        if (globals->result == noErr) {
            FSRef entry;
            globals->result = FSGetCatalogInfoBulk(
                levels.back().iterator, 1, &globals->actualObjects, nullptr, kFSCatInfoNodeFlags,
                &globals->catalogInfo, &entry, nullptr, nullptr);
            if (globals->result == noErr && globals->actualObjects == 1) {
                const UInt16 flags = globals->catalogInfo.nodeFlags;
                if ((flags & kFSNodeIsDirectoryMask) != 0) {
                    levels.back().emptying = entry;
                    levels.back().emptyingFlags = flags;
                    openLevel(&entry);
                    continue;
                }
                Unlock(&entry, flags, &globals->catalogInfo);
                globals->result = FSDeleteObject(&entry);
                continue;
            }
        }
        // This level is done: at its end, or stopped by a failure.
        if (globals->result == errFSNoMoreItems)
            globals->result = noErr;
        FSCloseIterator(levels.back().iterator);
        levels.pop_back();
        if (levels.empty() || globals->result != noErr)
            continue;
        Level& parent = levels.back();
        assert(parent.emptying.node != nullptr && "a finished level whose folder is unknown");
        Unlock(&parent.emptying, parent.emptyingFlags, &globals->catalogInfo);
        globals->result = FSDeleteObject(&parent.emptying);
        parent.emptying = FSRef();
    }
}

BOOL WritePermissions(const FSRef* ref, const FSCatalogInfo& info) {
    return FSSetCatalogInfo(ref, kFSCatInfoPermissions, &info) == noErr ? TRUE : FALSE;
}

} // namespace

OSErr FSDeleteObjects(const FSRef* ref) {
    if (ref == nullptr)
        return paramErr;
    FSDeleteObjectGlobals globals;
    FSRef parent;
    OSErr err =
        FSGetCatalogInfo(ref, kFSCatInfoNodeFlags, &globals.catalogInfo, nullptr, nullptr, &parent);
    if (err != noErr)
        return err;
    if (parent.node == nullptr)
        return paramErr; // the root folder is never deleted
    const UInt16 flags = globals.catalogInfo.nodeFlags;
    if ((flags & kFSNodeIsDirectoryMask) != 0) {
        globals.result = noErr;
        FSDeleteFolderLevel(ref, &globals);
        if (globals.result != noErr)
            return globals.result;
    }
    Unlock(ref, flags, &globals.catalogInfo);
    err = FSDeleteObject(ref);
    if (err != fBsyErr)
        return err;
    // The busy fallback goes by the path, so only while the path still names the object.
    UInt8 path[1024];
    FSRef named;
    if (FSRefMakePath(ref, path, sizeof path) != noErr ||
        FSPathMakeRefWithOptions(path, kKeepLastLink, &named, nullptr) != noErr ||
        FSCompareFSRefs(ref, &named) != noErr)
        return fBsyErr;
    return unlink(reinterpret_cast<const char*>(path)) == 0 ? noErr : fBsyErr;
}

BOOL DeleteFile(const char16_t* path) {
    orvik::fm::CompoundOperation once;
    FSRef ref;
    if (path == nullptr || ResolveEntry(path, &ref) != noErr)
        return FALSE;
    return FSDeleteObjects(&ref) == noErr ? TRUE : FALSE;
}
BOOL DeleteFile(const unsigned short* path) {
    return DeleteFile(U16(path));
}

BOOL DeleteFileDoNotFollowSymlinks(const char16_t* path) {
    if (path == nullptr)
        return FALSE;
    const CAtlStringA narrow(path);
    std::string bytes = narrow.GetString();
    orvik::fm::CompoundOperation once;
    FSRef ref;
    if (!TrimToEntry(bytes) ||
        FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(bytes.c_str()), kKeepLastLink, &ref,
                                 nullptr) != noErr)
        return FALSE;
    return FSDeleteObjects(&ref) == noErr ? TRUE : FALSE;
}
BOOL DeleteFileDoNotFollowSymlinks(const unsigned short* path) {
    return DeleteFileDoNotFollowSymlinks(U16(path));
}

BOOL RemoveDirectory(const char16_t* path) {
    orvik::fm::EntryScope entry; // a link is not the folder it points to
    orvik::fm::CompoundOperation once;
    FSRef ref;
    FSCatalogInfo info;
    if (!orvik::win32file::ResolveWithCatalogInfo(path, kFSCatInfoNodeFlags, &ref, &info))
        return FALSE;
    if ((info.nodeFlags & kFSNodeIsDirectoryMask) == 0)
        return FALSE;
    return FSDeleteObject(&ref) == noErr ? TRUE : FALSE;
}
BOOL RemoveDirectory(const unsigned short* path) {
    return RemoveDirectory(U16(path));
}

BOOL CreateDirectory(const char16_t* path, LPSECURITY_ATTRIBUTES) {
    FSRef ref;
    return path != nullptr && GetFSRefFromFilename(path, &ref, true, true) == noErr ? TRUE : FALSE;
}
BOOL CreateDirectory(const unsigned short* path, LPSECURITY_ATTRIBUTES securityAttributes) {
    return CreateDirectory(U16(path), securityAttributes);
}

DWORD GetFileAttributes(const char16_t* path) {
    orvik::fm::CompoundOperation once;
    FSRef ref;
    FSCatalogInfo info;
    if (!orvik::win32file::ResolveWithCatalogInfo(path, kFSCatInfoNodeFlags | kFSCatInfoPermissions,
                                                  &ref, &info))
        return INVALID_FILE_ATTRIBUTES;
    const uint16_t mode = ModeOf(info);
    const bool readOnly = (mode & orvik::win32file::kModeWriteBits) == 0;
    if ((mode & orvik::win32file::kModeFolder) != 0)
        return readOnly ? FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY
                        : FILE_ATTRIBUTE_DIRECTORY;
    return readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}
DWORD GetFileAttributes(const unsigned short* path) {
    return GetFileAttributes(U16(path));
}

BOOL SetFileAttributes(const char16_t* path, DWORD attributes) {
    orvik::fm::CompoundOperation once;
    FSRef ref;
    FSCatalogInfo info;
    if (!orvik::win32file::ResolveWithCatalogInfo(path, kFSCatInfoPermissions | kFSCatInfoNodeFlags,
                                                  &ref, &info))
        return FALSE;
    uint16_t& mode = ModeOf(info);
    // On the way to a deletion the entry itself goes: a link has no attributes of its own to
    // reset, and a file with other names keeps what those names show (deleting one name
    // needs no write permission on the file).
    if (orvik::fm::InEntryScope() && (S_ISLNK(mode) || (info.nodeFlags & kFSNodeHardLinkMask) != 0))
        return TRUE;
    bool changed = false;
    if (attributes == FILE_ATTRIBUTE_NORMAL) {
        if ((mode & orvik::win32file::kModeFolder) != 0) {
            mode = static_cast<uint16_t>((mode & ~orvik::win32file::kModeFolder) |
                                         orvik::win32file::kModeFile);
            changed = true;
        }
        if ((mode & orvik::win32file::kModeWriteBits) == 0) {
            mode |= 0x0090; // owner and group write
            return WritePermissions(&ref, info);
        }
    } else {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (mode & orvik::win32file::kModeFolder) == 0) {
            mode = static_cast<uint16_t>((mode & ~orvik::win32file::kModeFile) |
                                         orvik::win32file::kModeFolder);
            changed = true;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            (mode & orvik::win32file::kModeWriteBits) != 0) {
            mode = static_cast<uint16_t>(mode & ~orvik::win32file::kModeWriteBits);
            return WritePermissions(&ref, info);
        }
    }
    return changed ? WritePermissions(&ref, info) : TRUE;
}
BOOL SetFileAttributes(const unsigned short* path, DWORD attributes) {
    return SetFileAttributes(U16(path), attributes);
}

DWORD GetTempPath(DWORD length, char16_t* buffer) {
    FSRef folder;
    if (FSFindFolder(kUserDomainFolders, kTemporaryItemsFolder, kCreateFolder, &folder) != noErr)
        return 0;
    orvik::CFRef<CFURLRef> url(CFURLCreateFromFSRef(kCFAllocatorDefault, &folder));
    if (!url)
        return 0;
    orvik::CFRef<CFStringRef> text(CFURLCopyFileSystemPath(url.get(), kCFURLPOSIXPathStyle));
    std::u16string units;
    if (!orvik::win32file::CopyUnits(text.get(), &units))
        return 0;
    if (units.empty() || units.back() != u'/')
        units.push_back(u'/');
    if (buffer != nullptr) {
        const size_t n = std::min<size_t>(units.size(), length);
        std::copy_n(units.data(), n, buffer);
        buffer[n] = 0;
    }
    return static_cast<DWORD>(units.size());
}
DWORD GetTempPath(DWORD length, unsigned short* buffer) {
    return GetTempPath(length, U16(buffer));
}

UINT GetTempFileName(const char16_t* folder, const char16_t* prefix, UINT first, char16_t* out) {
    if (folder == nullptr || folder[0] == 0 || out == nullptr)
        return 0;
    size_t n = ucalen(folder);
    std::memmove(out, folder, n * sizeof(char16_t));
    if (out[n - 1] != u'/')
        out[n++] = u'/';
    for (int i = 0; prefix != nullptr && i < 3 && prefix[i] != 0; ++i)
        out[n++] = prefix[i];
    out[n] = 0;
    orvik::CFRef<CFStringRef> base(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(out), static_cast<CFIndex>(n)));
    if (!base)
        return 0;
    UINT number = first;
    do {
        if (sucaprintf(out, u"%@%u", base.get(), number) < 0)
            return 0;
        FSRef ref;
        const OSErr err = GetFSRefFromFilename(out, &ref, false, false);
        if (err == fnfErr) {
            // A dangling symbolic link resolves to nothing but still takes the name.
            if (ResolveEntry(out, &ref) != noErr)
                return number;
        } else if (err != noErr) {
            return 0;
        }
        ++number;
    } while (number != first);
    return 0;
}
UINT GetTempFileName(const unsigned short* folder, const unsigned short* prefix, UINT first,
                     unsigned short* out) {
    return GetTempFileName(U16(folder), U16(prefix), first, U16(out));
}

HANDLE FindFirstFile(const char16_t*, _WIN32_FIND_DATA*) {
    return INVALID_HANDLE_VALUE;
}
HANDLE FindFirstFile(const unsigned short*, _WIN32_FIND_DATA*) {
    return INVALID_HANDLE_VALUE;
}
BOOL FindNextFile(HANDLE, _WIN32_FIND_DATA*) {
    return FALSE;
}
BOOL FindClose(HANDLE) {
    return TRUE;
}

namespace {

void CopyDate(const UTCDateTime& date, FILETIME* time) {
    time->dwHighDateTime = date.highSeconds;
    time->dwLowDateTime = date.lowSeconds;
}

} // namespace

void InitW32FindDataFromCatalogInfo(const FSCatalogInfo* info, const HFSUniStr255* name,
                                    _WIN32_FIND_DATA* record) {
    if (info == nullptr || record == nullptr)
        return;
    DWORD attributes = 0;
    if ((info->nodeFlags & kFSNodeIsDirectoryMask) != 0)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((ModeOf(*info) & orvik::win32file::kModeWriteBits) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    record->dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    CopyDate(info->createDate, &record->ftCreationTime);
    CopyDate(info->accessDate, &record->ftLastAccessTime);
    CopyDate(info->contentModDate, &record->ftLastWriteTime);
    const uint64_t physical = info->dataPhysicalSize;
    record->nFileSizeHigh = static_cast<DWORD>(physical >> 32);
    record->nFileSizeLow = static_cast<DWORD>(physical);
    const size_t length = name == nullptr ? 0 : std::min<size_t>(name->length, 255);
    for (size_t i = 0; i < length; ++i)
        record->cFileName[i] = name->unicode[i];
    record->cFileName[length] = 0;
    record->cAlternateFileName[0] = 0;
}
