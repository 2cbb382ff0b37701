// File references from paths, and Windows-style file handles over the file manager.
//
// Paths are zero-terminated 16-bit POSIX paths (relative ones start at the current
// directory). Resolution follows symbolic links, including one in the last component, and
// keeps no state; it reports -43 (fnfErr) for every failure to build or resolve a path and
// passes the file manager's own status through when a lookup or creation in the parent
// fails.
//
// A handle from CreateFile is the address of a FileHandleRecord holding the open data
// fork and a mutex; every operation on a handle runs under that mutex, so one handle may be
// shared by threads. A null handle does nothing and gives 0; INVALID_HANDLE_VALUE gives the
// operation's failure value. None of these functions touches the last-error code.
// Every 16-bit path function has an `unsigned short` twin that behaves identically.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <type_traits>

#include <string>

#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"
#include "platform/FileManager.h"
#include "win32compat/WinTypes.h"

// Resolves `path` into `ref`. With `create`, a missing last component is created in its
// (existing) parent, as a folder when `folder` is set, else as an empty file; an object
// that already exists is returned as found whatever its type. 0, -43, or the file
// manager's status of the lookup or creation.
OSErr GetFSRefFromFilename(const char16_t* path, FSRef* ref, bool create, bool folder);
OSErr GetFSRefFromFilename(const unsigned short* path, FSRef* ref, bool create, bool folder);

// Resolves the parent folder of `path` into `parent` and copies the last component into
// `name` ("a/b/c" -> ref of a/b and "c"). 0, or -43 when the parent does not resolve or the
// name has more than 255 units; `name` is written only on success.
OSErr GetParentFSRAndNameFromFilePath(const char16_t* path, FSRef* parent, HFSUniStr255* name);
OSErr GetParentFSRAndNameFromFilePath(const unsigned short* path, FSRef* parent,
                                      HFSUniStr255* name);

// What a handle points to.
struct FileHandleRecord {
    uint32_t kind;       // kFileHandleKindFile for an open file
    FSIORefNum* forkRef; // the open data fork, allocated on its own
    pthread_mutex_t lock;
};
constexpr uint32_t kFileHandleKindFile = 3;

// Desired access values that select a read-only or write-only open; anything else opens
// for reading and writing. A share mode of 0 adds the matching deny mode.
constexpr DWORD kFileAccessRead = 8;
constexpr DWORD kFileAccessReadAlt = 0x13;
constexpr DWORD kFileAccessWrite = 0x14;

// Creation dispositions: CREATE_NEW (1) creates a new file and fails when one exists; 0
// and CREATE_ALWAYS (2) open or create; any other value opens an existing file only. No
// disposition truncates.

// Opens the data fork of `path` positioned at its start. The handle, or
// INVALID_HANDLE_VALUE. `security`, `flags` and `templateFile` are ignored.
HANDLE CreateFile(const char16_t* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                  DWORD disposition, DWORD flags, HANDLE templateFile);
HANDLE CreateFile(const unsigned short* path, DWORD access, DWORD share,
                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                  HANDLE templateFile);

// Reads or writes `count` bytes at the current position, storing the count moved in
// `*done` when `done` is not null. TRUE exactly when all went well: a read that meets the
// end of the file is FALSE with the bytes read reported.
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done, LPOVERLAPPED overlapped);

// The low 32 bits of the file's size, 0 when the query fails. `high` is never written.
DWORD GetFileSize(HANDLE file, DWORD* high);

// Moves the position by `distance` (sign-extended) from the start (method 0), the current
// position (1) or the end (2); any other method moves nothing. Returns the low 32 bits of
// the new position, or 0xFFFFFFFF when positioning fails. `high` is never used or written.
// After SetFilePointer(h, -4, nullptr, 2) on a 10-byte file the result is 6.
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method);

// Closes the fork and frees the mutex and the record. TRUE when the fork closed.
BOOL CloseHandle(HANDLE file);

// The low 32 bits of the size of an open POSIX descriptor, -1 when fstat rejects it.
int32_t filelength(int fd);

// Small helpers shared by the file layer's sources.
namespace orvik::win32file {

constexpr uint16_t kModeFolder = 0x4000;
constexpr uint16_t kModeFile = 0x8000;
constexpr uint16_t kModeWriteBits = 0x0092; // owner, group and others write

// The permissions record inside catalog information, whichever way the platform lays it
// out (a record, or four words to be read as one).
inline FSPermissionInfo& PermissionsOf(FSCatalogInfo& info) {
    if constexpr (std::is_array_v<decltype(info.permissions)>)
        return *reinterpret_cast<FSPermissionInfo*>(&info.permissions);
    else
        return reinterpret_cast<FSPermissionInfo&>(info.permissions);
}
inline const FSPermissionInfo& PermissionsOf(const FSCatalogInfo& info) {
    return PermissionsOf(const_cast<FSCatalogInfo&>(info));
}
inline uint16_t& ModeOf(FSCatalogInfo& info) {
    return PermissionsOf(info).mode;
}
inline uint16_t ModeOf(const FSCatalogInfo& info) {
    return PermissionsOf(info).mode;
}

// A file URL in POSIX style, not marked as a folder, for a 16-bit path; null on failure.
CFURLRef CreateFileURL(const char16_t* path);
// The units of a platform string; false for a null string.
bool CopyUnits(CFStringRef text, std::u16string* out);
// Resolves the URL without its last component into `parent` and gives that component.
bool SplitFileURL(CFURLRef url, FSRef* parent, std::u16string* name);
// Resolves an existing path (links followed) and reads the catalog information asked
// for; false when the path is null or either step fails.
bool ResolveWithCatalogInfo(const char16_t* path, FSCatalogInfoBitmap which, FSRef* ref,
                            FSCatalogInfo* info);

} // namespace orvik::win32file
