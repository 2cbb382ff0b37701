// File and directory manipulators: static operations on the path classes.
//
// Delete, create, remove and copy operations answer only success or failure
// (BOOL/bool) and never log or throw; tree operations ignore failures of
// single items and leave in place what could not be deleted or copied.
// Content operations answer HRESULT-style codes: S_OK, E_INVALIDARG (bad
// argument, missing path, a file that can't be opened or written),
// E_UNEXPECTED (short read), E_FAIL (missing source tree).
//
// Shortcut files (8-bit text):
//   plain:    the target path in UTF-8, nothing else
//   Internet: "[InternetShortcut]\nURL=<url>\n" as written; read back either
//             from that section form (file must start with the header) or
//             from a property list holding "<key>URL</key>\n\t<string>URL</string>\n".
#pragma once

#include <cstdio>

#include "paths/PathClasses.h"
#include "strings/AtlString.h"
#include "win32compat/WinTypes.h"

class CFileManipulator {
public:
    // True if the file does not exist or was deleted; a link is deleted itself.
    static BOOL DeleteFile(const COrvikFilePath& file);
    static BOOL CopyFileTo(const COrvikFilePath& source, const COrvikFilePath& target,
                           bool failIfExists);
    // Copies to targetDirectory/<source's file name>.
    static BOOL CopyFileTo(const COrvikFilePath& source, const COrvikDirectoryPath& targetDirectory,
                           bool failIfExists);
    static BOOL MoveFileTo(const COrvikFilePath& source, const COrvikFilePath& target);

    // fopen of the path in UTF-8; null on failure.
    static FILE* OpenFile(const COrvikFilePath& file, const char* mode);
    // Bytes read into a new[] block stored in *buffer (null and 0 when the file
    // can't be opened, is empty or can't be held in memory).
    static unsigned long ReadFileIntoBuffer(const COrvikFilePath& file, unsigned char** buffer);
    static HRESULT WriteAsciiStringToFile(const COrvikFilePath& file, const char* data,
                                          unsigned int length);
    // `text` = prefix (may be null) + content, ending at the first zero byte.
    static HRESULT ReadAsciiFileIntoAsciiString(const COrvikFilePath& file, CAtlStringA& text,
                                                const char* prefix);

    static HRESULT CreateShortcut(const COrvikFilePath& shortcut, const COrvikFilePath& target);
    static COrvikFilePath ResolveShortcut(const COrvikFilePath& shortcut);
    // Never replaces an existing file (S_OK without writing).
    static HRESULT CreateURLShortcut(const CAtlString& url, const COrvikFilePath& shortcut);
    static CAtlString ResolveURLShortcut(const COrvikFilePath& shortcut);
};

class CDirectoryManipulator {
public:
    // Creates missing parents first; true when anything exists at the path.
    static bool CreateDirectory(const COrvikDirectoryPath& directory);
    // True if the directory does not exist or was removed (it must be empty).
    static BOOL RemoveDirectory(const COrvikDirectoryPath& directory);
    // Deletes the directory's own files matching `pattern`; always true.
    static bool RemoveFilesFromDirectory(const COrvikDirectoryPath& directory,
                                         const CAtlString& pattern);
    // Empties the directory at every depth, never through a link; always true.
    static bool RemoveAllFilesAndSubDirectories(const COrvikDirectoryPath& directory);
    // Empties and removes the directory; true exactly when it is gone.
    static BOOL RemoveDirectoryAndContents(const COrvikDirectoryPath& directory);
    // Copies (or, with `move`, moves the files of) a tree: S_OK or E_FAIL.
    static HRESULT RecursivelyCopyDirectory(const COrvikDirectoryPath& source,
                                            const COrvikDirectoryPath& target, bool move);
};
