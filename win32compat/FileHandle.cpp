// File references from 16-bit paths, and Windows-style file handles over forks.
#include "win32compat/FileHandle.h"
#include "win32compat/Units16.h"

#include <sys/stat.h>

#include <new>
#include <string>

#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"
#include "strings/UcaString.h"

using orvik::win::U16;

namespace {

// Fork permissions of the file manager.
constexpr SInt8 kPermRead = 1;
constexpr SInt8 kPermWrite = 2;
constexpr SInt8 kPermReadWrite = 3;
constexpr SInt8 kPermReadWriteShared = 4;
constexpr SInt8 kPermDenyRead = 0x10;
constexpr SInt8 kPermDenyWrite = 0x20;

SInt8 ForkPermission(DWORD access, DWORD share) {
    if (access == kFileAccessRead || access == kFileAccessReadAlt)
        return share != 0 ? kPermRead : kPermDenyRead;
    if (access == kFileAccessWrite)
        return share != 0 ? kPermWrite : kPermDenyWrite;
    return share != 0 ? kPermReadWriteShared : kPermReadWrite;
}

FileHandleRecord* RecordOf(HANDLE file) {
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return nullptr;
    auto* record = static_cast<FileHandleRecord*>(file);
    return record->kind == kFileHandleKindFile ? record : nullptr;
}

// Holds a handle's mutex for the lifetime of one operation.
class HandleLock {
public:
    explicit HandleLock(FileHandleRecord* record) : record_(record) {
        pthread_mutex_lock(&record_->lock);
    }
    ~HandleLock() { pthread_mutex_unlock(&record_->lock); }
    HandleLock(const HandleLock&) = delete;
    HandleLock& operator=(const HandleLock&) = delete;

private:
    FileHandleRecord* record_;
};

} // namespace

namespace orvik::win32file {

CFURLRef CreateFileURL(const char16_t* path) {
    const orvik::CFRef<CFStringRef> text(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(path), ucalen(path)));
    if (!text)
        return nullptr;
    return CFURLCreateWithFileSystemPath(kCFAllocatorDefault, text.get(), kCFURLPOSIXPathStyle,
                                         false);
}

bool CopyUnits(CFStringRef text, std::u16string* out) {
    if (text == nullptr)
        return false;
    const CFIndex length = CFStringGetLength(text);
    out->resize(static_cast<size_t>(length));
    if (length > 0)
        CFStringGetCharacters(text, CFRangeMake(0, length),
                              reinterpret_cast<UniChar*>(out->data()));
    return true;
}

bool SplitFileURL(CFURLRef url, FSRef* parent, std::u16string* name) {
    orvik::CFRef<CFURLRef> parentURL(
        CFURLCreateCopyDeletingLastPathComponent(kCFAllocatorDefault, url));
    orvik::CFRef<CFStringRef> last(CFURLCopyLastPathComponent(url));
    if (!parentURL || !last || !CopyUnits(last.get(), name))
        return false;
    return CFURLGetFSRef(parentURL.get(), parent) != 0;
}

bool ResolveWithCatalogInfo(const char16_t* path, FSCatalogInfoBitmap which, FSRef* ref,
                            FSCatalogInfo* info) {
    return path != nullptr && GetFSRefFromFilename(path, ref, false, false) == noErr &&
           FSGetCatalogInfo(ref, which, info, nullptr, nullptr, nullptr) == noErr;
}

} // namespace orvik::win32file

OSErr GetFSRefFromFilename(const char16_t* path, FSRef* ref, bool create, bool folder) {
    if (path == nullptr || ref == nullptr)
        return fnfErr;
    OSErr resolved = noErr;
    if (!create && orvik::fm::FSRefFromAbsoluteUnits(reinterpret_cast<const UniChar*>(path),
                                                     ucalen(path), ref, &resolved))
        return resolved == noErr ? noErr : fnfErr;
    orvik::CFRef<CFURLRef> url(orvik::win32file::CreateFileURL(path));
    if (!url)
        return fnfErr;
    if (!create)
        return CFURLGetFSRef(url.get(), ref) ? noErr : fnfErr;

    FSRef parent;
    std::u16string name;
    if (!orvik::win32file::SplitFileURL(url.get(), &parent, &name))
        return fnfErr;
    const auto* units = reinterpret_cast<const UniChar*>(name.data());
    const OSErr found = FSMakeFSRefUnicode(&parent, name.size(), units, kTextEncodingUnknown, ref);
    if (found != fnfErr)
        return found;
    if (folder)
        return FSCreateDirectoryUnicode(&parent, name.size(), units, kFSCatInfoNone, nullptr, ref,
                                        nullptr, nullptr);
    return FSCreateFileUnicode(&parent, name.size(), units, kFSCatInfoNone, nullptr, ref, nullptr);
}
OSErr GetFSRefFromFilename(const unsigned short* path, FSRef* ref, bool create, bool folder) {
    return GetFSRefFromFilename(U16(path), ref, create, folder);
}

OSErr GetParentFSRAndNameFromFilePath(const char16_t* path, FSRef* parent, HFSUniStr255* name) {
    if (path == nullptr || parent == nullptr || name == nullptr)
        return fnfErr;
    orvik::CFRef<CFURLRef> url(orvik::win32file::CreateFileURL(path));
    if (!url)
        return fnfErr;
    FSRef parentRef;
    std::u16string last;
    if (!orvik::win32file::SplitFileURL(url.get(), &parentRef, &last))
        return fnfErr;
    // The name record holds 255 units; a longer name cannot name anything on disk.
    if (last.size() > 255)
        return fnfErr;
    *parent = parentRef;
    name->length = static_cast<uint16_t>(last.size());
    for (size_t i = 0; i < last.size(); ++i)
        name->unicode[i] = last[i];
    return noErr;
}
OSErr GetParentFSRAndNameFromFilePath(const unsigned short* path, FSRef* parent,
                                      HFSUniStr255* name) {
    return GetParentFSRAndNameFromFilePath(U16(path), parent, name);
}

HANDLE CreateFile(const char16_t* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                  DWORD disposition, DWORD, HANDLE) {
    if (path == nullptr)
        return INVALID_HANDLE_VALUE;
    const SInt8 permission = ForkPermission(access, share);

    FSRef ref;
    OSErr err = GetFSRefFromFilename(path, &ref, false, false);
    if (disposition == CREATE_NEW) {
        if (err == noErr)
            return INVALID_HANDLE_VALUE;
        err = GetFSRefFromFilename(path, &ref, true, false);
    } else if (disposition == 0 || disposition == CREATE_ALWAYS) {
        if (err == fnfErr)
            err = GetFSRefFromFilename(path, &ref, true, false);
    }
    if (err != noErr)
        return INVALID_HANDLE_VALUE;

    HFSUniStr255 forkName;
    if (FSGetDataForkName(&forkName) != noErr)
        return INVALID_HANDLE_VALUE;
    FSIORefNum fork = 0;
    if (FSOpenFork(&ref, forkName.length, forkName.unicode, permission, &fork) != noErr)
        return INVALID_HANDLE_VALUE;
    FSSetForkPosition(fork, fsFromStart, 0);

    auto* record = new (std::nothrow) FileHandleRecord;
    auto* forkRef = new (std::nothrow) FSIORefNum(fork);
    if (record == nullptr || forkRef == nullptr ||
        pthread_mutex_init(&record->lock, nullptr) != 0) {
        FSCloseFork(fork);
        delete forkRef;
        delete record;
        return INVALID_HANDLE_VALUE;
    }
    record->kind = kFileHandleKindFile;
    record->forkRef = forkRef;
    return static_cast<HANDLE>(record);
}
HANDLE CreateFile(const unsigned short* path, DWORD access, DWORD share,
                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                  HANDLE templateFile) {
    return CreateFile(U16(path), access, share, security, disposition, flags, templateFile);
}

namespace {

// ReadFile and WriteFile: one transfer at the handle's mark, under its lock.
template <typename Buffer, typename Transfer>
BOOL TransferAtMark(HANDLE file, Buffer buffer, DWORD count, DWORD* done, Transfer transfer) {
    FileHandleRecord* record = RecordOf(file);
    if (record == nullptr)
        return FALSE;
    if (buffer == nullptr && count != 0) {
        if (done != nullptr)
            *done = 0;
        return FALSE;
    }
    HandleLock lock(record);
    ByteCount actual = 0;
    const OSErr err = transfer(*record->forkRef, fsAtMark, 0, count, buffer, &actual);
    if (done != nullptr)
        *done = static_cast<DWORD>(actual);
    return err == noErr ? TRUE : FALSE;
}

} // namespace

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, LPOVERLAPPED) {
    return TransferAtMark(file, buffer, count, done, FSReadFork);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done, LPOVERLAPPED) {
    return TransferAtMark(file, buffer, count, done, FSWriteFork);
}

DWORD GetFileSize(HANDLE file, DWORD*) {
    FileHandleRecord* record = RecordOf(file);
    if (record == nullptr)
        return 0;
    HandleLock lock(record);
    SInt64 size = 0;
    if (FSGetForkSize(*record->forkRef, &size) != noErr)
        return 0;
    return static_cast<DWORD>(static_cast<uint64_t>(size));
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG, DWORD method) {
    if (file == nullptr)
        return 0;
    FileHandleRecord* record = RecordOf(file);
    if (record == nullptr)
        return INVALID_SET_FILE_POINTER;
    HandleLock lock(record);
    if (method <= 2) {
        const UInt16 mode = method == 0 ? fsFromStart : method == 1 ? fsFromMark : fsFromLEOF;
        if (FSSetForkPosition(*record->forkRef, mode, static_cast<SInt64>(distance)) != noErr)
            return INVALID_SET_FILE_POINTER;
    }
    SInt64 position = 0;
    if (FSGetForkPosition(*record->forkRef, &position) != noErr)
        return INVALID_SET_FILE_POINTER;
    return static_cast<DWORD>(static_cast<uint64_t>(position));
}

BOOL CloseHandle(HANDLE file) {
    FileHandleRecord* record = RecordOf(file);
    if (record == nullptr)
        return FALSE;
    const OSErr err = FSCloseFork(*record->forkRef);
    delete record->forkRef;
    pthread_mutex_destroy(&record->lock);
    delete record;
    return err == noErr ? TRUE : FALSE;
}

int32_t filelength(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -1;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(st.st_size)));
}
