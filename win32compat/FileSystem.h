// Windows-named operations on whole files and folders over the file manager: deletion,
// folder creation, attributes, the temporary folder and temporary names, and the find-file
// entry points with their record.
//
// Paths are zero-terminated 16-bit POSIX paths, resolved by GetFSRefFromFilename (symbolic
// links followed). The deleting functions alone never delete through a final symbolic link,
// and a recursive deletion never follows a link at any depth: a link inside a tree is an
// entry and is deleted as such. Results are BOOL (1 or 0) or the values listed; none of the
// operations touches the last-error code. Every 16-bit path function has an
// `unsigned short` twin that behaves identically.
#pragma once

#include <cstdint>

#include "platform/FileManager.h"
#include "win32compat/WinTypes.h"

// Deletes the object at `path` and, for a folder, its whole tree. The path is resolved
// following links in every component but the last, so a symbolic link is deleted itself
// and what it points to is left alone. Locked entries are unlocked just before their
// deletion. TRUE exactly when everything went.
BOOL DeleteFile(const char16_t* path);
BOOL DeleteFile(const unsigned short* path);

// As DeleteFile, the path narrowed to 8 bits first (as CAtlStringA does) and resolved
// without following a final symbolic link.
BOOL DeleteFileDoNotFollowSymlinks(const char16_t* path);
BOOL DeleteFileDoNotFollowSymlinks(const unsigned short* path);

// Deletes the folder at `path` (links followed) when it is empty and not locked.
BOOL RemoveDirectory(const char16_t* path);
BOOL RemoveDirectory(const unsigned short* path);

// Deletes the object and, for a folder, everything inside it, depth first. Returns 0,
// -50 for a null reference, or the first failing status (entries deleted so far stay
// deleted). Only the top object falls back to unlink(2) of its path when the file manager
// calls it busy (-47).
OSErr FSDeleteObjects(const FSRef* ref);

// What every level of one recursive deletion shares, so that a deep tree needs little
// stack per level.
struct FSDeleteObjectGlobals {
    FSCatalogInfo catalogInfo; // node flags of the entry read last
    ItemCount actualObjects;   // items returned by the last bulk read
    OSErr result;              // status of the whole walk
};

// Creates the last component of `path` as a folder; its parent must exist. TRUE as well
// when any object already exists there (nothing is changed then).
BOOL CreateDirectory(const char16_t* path, LPSECURITY_ATTRIBUTES securityAttributes);
BOOL CreateDirectory(const unsigned short* path, LPSECURITY_ATTRIBUTES securityAttributes);

// 0x10 for a folder, 0x80 for anything else, plus read-only (a folder gives 0x11, another
// object 0x01 instead of 0x80) when none of the write bits 0222 is set; 0xFFFFFFFF when the
// path does not resolve. Mode 0644 -> 0x80, 0444 -> 0x01, a folder 0555 -> 0x11.
DWORD GetFileAttributes(const char16_t* path);
DWORD GetFileAttributes(const unsigned short* path);

// 0x80 (normal) gives a read-only object owner and group write (0444 -> 0664); 0x01
// takes every write bit away (0666 -> 0444); write bits are never added otherwise.
BOOL SetFileAttributes(const char16_t* path, DWORD attributes);
BOOL SetFileAttributes(const unsigned short* path, DWORD attributes);

// Writes the user's temporary folder, ending in '/', cut to `length` units and followed by
// a zero (the buffer holds `length` + 1 units). Returns the full length, even when the copy
// was cut short, or 0 when the folder cannot be found. A null buffer gets nothing written.
DWORD GetTempPath(DWORD length, char16_t* buffer);
DWORD GetTempPath(DWORD length, unsigned short* buffer);

// Writes into `out` the folder, '/', up to three units of `prefix` and the first number
// from `first` on whose name names nothing ("/tmp", "abcd", 7 with abc7 taken -> "/tmp/abc8",
// returns 8). The file is not created. Returns the number, or 0 on failure (and also when
// `first` is 0 and that name is free). `out` needs room for the folder, '/', three prefix
// units, ten digits and the zero.
UINT GetTempFileName(const char16_t* folder, const char16_t* prefix, UINT first, char16_t* out);
UINT GetTempFileName(const unsigned short* folder, const unsigned short* prefix, UINT first,
                     unsigned short* out);

// The find record.
struct _WIN32_FIND_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char16_t cFileName[260];
    char16_t cAlternateFileName[14];
};
using WIN32_FIND_DATA = _WIN32_FIND_DATA;

// Folder searches are not supported: FindFirstFile always gives INVALID_HANDLE_VALUE and
// leaves the record alone, FindNextFile FALSE, FindClose TRUE.
HANDLE FindFirstFile(const char16_t* pattern, _WIN32_FIND_DATA* record);
HANDLE FindFirstFile(const unsigned short* pattern, _WIN32_FIND_DATA* record);
BOOL FindNextFile(HANDLE find, _WIN32_FIND_DATA* record);
BOOL FindClose(HANDLE find);

// Fills `record` from catalog information (node flags, permissions, creation, access and
// content-modification dates, data fork physical size) and a name. Dates are copied
// without conversion: the high 16 bits of the seconds go to dwHighDateTime, the low 32 to
// dwLowDateTime. The reserved fields are not written.
void InitW32FindDataFromCatalogInfo(const FSCatalogInfo* info, const HFSUniStr255* name,
                                    _WIN32_FIND_DATA* record);
