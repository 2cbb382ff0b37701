// Windows-style path-string helpers over zero-terminated 16-bit paths in POSIX form.
//
// '/' is the only separator; a backslash is an ordinary character. The helpers edit the
// caller's buffer in place and never allocate (PathCanonicalize uses one scratch buffer as
// long as its input). Fixed buffers follow the Windows convention of MAX_PATH (260) units
// including the terminating zero, but the limit is enforced only where a helper says so.
// A null path is treated as empty and never dereferenced. Every 16-bit helper has an
// `unsigned short` twin that behaves identically.
//
// The extension of a path runs from its last '.' to the end, provided that '.' comes after
// the last '/': "a/b.c.d" has ".d" at index 5, "a.b/c" has none, ".profile" is all extension.
#pragma once

#include "win32compat/WinTypes.h"

// Index of the extension's '.', or -1. GetExtensionIndex(u"a/b.c.d") == 5.
int GetExtensionIndex(const char16_t* path);
int GetExtensionIndex(const unsigned short* path);
int GetExtensionIndexA(const char* path);

// Pointer to the extension's '.', or null when there is none (never the terminator).
char16_t* PathFindExtension(const char16_t* path);
unsigned short* PathFindExtension(const unsigned short* path);

// Replaces the text after the extension's '.' by `ext` (given without its dot):
// "file.txt" + "doc" -> "file.doc". FALSE, path untouched, when there is no extension or
// when dotIndex + len(ext) + 2 > 260.
BOOL PathRenameExtension(char16_t* path, const char16_t* ext);
BOOL PathRenameExtension(unsigned short* path, const unsigned short* ext);

// Cuts the path at its extension's '.', when there is one.
void PathRemoveExtension(char16_t* path);
void PathRemoveExtension(unsigned short* path);
void PathRemoveExtensionA(char* path);

// Appends '/' unless the last unit already is one; no length check. Returns `path`.
// An empty path becomes "/".
char16_t* PathAddBackslash(char16_t* path);
unsigned short* PathAddBackslash(unsigned short* path);

// Zeroes trailing '/' units, never the first unit: "a//" -> "a" (returns path + 1),
// "/" stays. Returns the new terminator.
char16_t* PathRemoveBackslash(char16_t* path);
unsigned short* PathRemoveBackslash(unsigned short* path);

// The last component, trailing separators included: "a/b/" -> "b/", "/" -> "" (at its end),
// "" -> the path itself.
char16_t* PathFindFileName(const char16_t* path);
unsigned short* PathFindFileName(const unsigned short* path);
// The 8-bit variant exists for callers that link against it; it always returns null.
char* PathFindFileNameA(const char* path);

// Removes the last component, or only the trailing separators when there are some:
// "dir/file" -> "dir", "/file" -> "", "dir/sub/" -> "dir/sub", "///" -> "/".
// FALSE for an empty path, else TRUE.
BOOL PathRemoveFileSpec(char16_t* path);
BOOL PathRemoveFileSpec(unsigned short* path);

// Appends `more`, with one '/' between unless either side supplies it: "dir" + "sub" ->
// "dir/sub", "dir/" + "/sub" -> "dir//sub". FALSE when `path` has more than 259 units;
// text that would go beyond index 259 is dropped. The buffer must hold 261 units.
BOOL PathAppend(char16_t* path, const char16_t* more);
BOOL PathAppend(unsigned short* path, const unsigned short* more);

// Writes `in` with its "." and ".." components folded into `out` (which must hold
// len(in) + 1 units; it may be `in` itself): "/a/b/./../c/" -> "/a/c/", "a/.." -> "",
// "../a" stays. FALSE, `out` untouched, for an empty input.
BOOL PathCanonicalize(char16_t* out, const char16_t* in);
BOOL PathCanonicalize(unsigned short* out, const unsigned short* in);

// TRUE when the path resolves (symbolic links followed) to an existing object.
BOOL PathFileExists(const char16_t* path);
BOOL PathFileExists(const unsigned short* path);

// TRUE when the path resolves to a folder.
BOOL PathIsDirectory(const char16_t* path);
BOOL PathIsDirectory(const unsigned short* path);

// 1 when the platform's application registry calls the object an application, 0 when it
// does not, -1 when the path is too long for UTF-8 in 1024 bytes or cannot be resolved.
int PathIsExe(const char16_t* path);
int PathIsExe(const unsigned short* path);
