// Path value classes: COrvikDirectoryPath names a directory, COrvikFilePath a
// file. Each holds one CAtlString in normal form: every backslash turned into
// "/" and one trailing "/" removed, nothing else ("C:\\dir\\sub\\" ->
// "C:/dir/sub", "/" -> "", "/a//" -> "/a/"). Appending a component to the
// empty path gives "/" + component. Both classes are bitwise relocatable (one
// string handle each), which CAtlArray relies on.
//
// No operation reports an error: an impossible request yields an empty
// string, false or 0. Questions put to the file system follow symbolic links
// (they go through PathFileExists and friends); listings never do: a link is
// listed as a file and never descended into.
#pragma once

#include <cstdint>

#include "paths/AtlArray.h"
#include "platform/FileManager.h"
#include "strings/AtlString.h"

class COrvikFilePath;
class COrvikDirectoryPath;

using CDirectoryPathArray = CAtlArray<COrvikDirectoryPath, CElementTraits<COrvikDirectoryPath>>;
using CFilePathArray = CAtlArray<COrvikFilePath, CElementTraits<COrvikFilePath>>;

// ---- Free path functions -------------------------------------------------

// Normal form: backslashes to slashes, then one trailing slash removed.
CAtlString FixFolderPathForPlatform(const CAtlString& path);
// Exactly what FixFolderPathForPlatform does.
CAtlString FixFilePathForPlatform(const CAtlString& path);

// False with any of |><?*" ; with a ':' only a drive ("C:\\...", no further
// colon) is accepted. Slash and backslash are allowed.
bool FilePathIsValidForAllPlatforms(const CAtlString& path);
// False with any of |><?*": (slash and backslash are not tested).
bool FileNameIsValidForAllPlatforms(const CAtlString& name);
// Removes |><?*" and every ':' except a drive colon at index 1 before "\\".
void FixFilePathInvalidCharacters(CAtlString& path);
// Removes |><?*":
void FixFileNameInvalidCharacters(CAtlString& name);
// "\\\\?\\C:\\x" -> "C:\\x": keeps from the drive letter of the last ':' on
// when that colon lies past index 3 and a backslash follows it.
void CleanupPathNameBecauseWindowsHasBugs(CAtlString& path);

// Case-sensitive name test with '*' (greedy, no backtracking: it swallows
// units up to the first one equal to the pattern unit after it) and '?'.
//   "*.txt" matches "a.txt" but not "a.b.txt"; "*a" matches "ba", not "aba".
// Null pointers count as empty strings.
bool MatchNamePattern(const char16_t* pattern, const char16_t* name);

// qsort comparison of two COrvikDirectoryPath by last component
// (CAtlString::Compare, case-sensitive).
int compareDirfunc(const void* a, const void* b);

// True when GetFSRefFromFilename(path, ref, false, false) returns 0.
bool GetFsRefFromString(CAtlString path, FSRef* ref);

// ---- COrvikDirectoryPath -------------------------------------------------

class COrvikDirectoryPath {
public:
    COrvikDirectoryPath() = default;
    COrvikDirectoryPath(const CAtlString& path);
    COrvikDirectoryPath(const COrvikDirectoryPath& other) = default;
    COrvikDirectoryPath& operator=(const COrvikDirectoryPath& other) = default;

    static COrvikDirectoryPath CreateDirectoryPath(const CAtlString& path);

    CAtlString GetDirectoryPathString() const { return m_path; }
    CAtlStringA GetDirectoryPathStringA() const;
    CAtlString GetLastDirectoryName() const; // units after the last '/'
    bool IsEmptyPath() const { return m_path.IsEmpty(); }
    void Empty() { m_path.Empty(); }

    // True for any existing item (a file too); false for the empty path.
    bool DirectoryExists() const;
    bool CanDirectoryBeWrittenTo() const; // always true
    int GetNumberOfDaysOld() const;       // whole days since modification; 0 if unknown
    bool IsEqualPath(const COrvikDirectoryPath& other) const; // case-insensitive
    bool IsEqualPath(const COrvikFilePath& other) const;
    // Case-insensitive prefix test without a separator check: "/a/bc" is a
    // subdirectory of "/a/b", and a path is a subdirectory of itself.
    bool IsSubdirectoryOf(const COrvikDirectoryPath& parent) const;

    void AddDirectoryToPath(const CAtlString& name); // "/x" + "a\\b\\" -> "/x/a/b"
    bool RemoveLastSubdirectoryFromPath();           // "/a" -> "", true; "abc" -> false
    COrvikFilePath CreateFilePath(const CAtlString& fileName) const;

    bool IsValidForCrossPlatform() const;
    void MakeValidForCrossPlatform();

    // Appends the subdirectories whose names match `pattern` (at every depth
    // when `recursive`), then sorts the whole list by last component.
    void ListSubDirectories(const CAtlString& pattern, CDirectoryPathArray& list,
                            bool recursive) const;
    // Appends the non-directory entries matching `pattern`, unsorted.
    void FindFilesInDirectory(const CAtlString& pattern, CFilePathArray& list) const;
    // Sorts by last component (qsort with compareDirfunc; not stable).
    void SortPaths(CDirectoryPathArray& list) const;

    // "<dir>/<base><ext>" when free, else "<dir>/<base>(<rand()>)<ext>".
    COrvikFilePath CreateTempFileNameInDirectory(const CAtlString& baseName,
                                                 const CAtlString& extension) const;
    // "<parent>/<name>" when free, else "<parent>/<name>1", "<name>2", ...
    static COrvikDirectoryPath CreateUniqueSubDirectoryPath(const COrvikDirectoryPath& parent,
                                                            const CAtlString& name);

    static COrvikDirectoryPath GetTempDirectoryPath();
    static COrvikDirectoryPath GetTempFileDirectoryPath();
    static void SetTempFileDirectoryPath(COrvikDirectoryPath& directory);
    static COrvikDirectoryPath GetORVIKDirectoryPath();
    static COrvikDirectoryPath GetScrivletTempDirectoryPath();
    static COrvikDirectoryPath
    GetApplicationTempFileDirectoryPath(const CAtlString& applicationName);

    // Overrides the temporary-file directory when not empty.
    static COrvikDirectoryPath my_GlobalTempFilePath;

private:
    friend class COrvikFilePath;
    friend int compareDirfunc(const void* a, const void* b);
    CAtlString m_path;
};

// ---- COrvikFilePath ------------------------------------------------------

class COrvikFilePath {
public:
    COrvikFilePath() = default;
    COrvikFilePath(const CAtlString& path);
    COrvikFilePath(const COrvikFilePath& other) = default;
    COrvikFilePath& operator=(const COrvikFilePath& other) = default;

    CAtlString GetFilePathString() const { return m_path; }
    CAtlStringA GetFilePathStringA() const;
    CAtlString GetFileName() const; // "abc" -> "abc"; "/d/f.txt" -> "f.txt"
    CAtlStringA GetFileNameA() const;
    CAtlString GetBaseFileName() const;  // "archive.tar.gz" -> "archive.tar"; ".profile" -> ""
    CAtlString GetFileExtension() const; // "/x/a.tar.gz" -> ".gz"; "/a.b/c" -> ""
    COrvikDirectoryPath GetDirectoryPath() const;
    bool IsEmptyPath() const { return m_path.IsEmpty(); }
    void Empty() { m_path.Empty(); }

    bool FileExists() const; // also true for a directory
    bool IsDirectory() const;
    bool IsExecutable() const;
    bool IsShortCut() const;    // extension ".lnk", any case
    bool IsURLShortCut() const; // extension ".url", any case
    bool CanFileBeWrittenTo() const;
    int GetNumberOfDaysOld() const;
    bool IsEqualPath(const COrvikDirectoryPath& other) const;
    bool IsEqualPath(const COrvikFilePath& other) const;

    // Replaces the extension (from its '.') or appends `extension`; the caller
    // supplies the dot. Not normalised again.
    void RenameFileExtension(const CAtlString& extension);
    // Takes what follows "file://" (no decoding, no host handling); false and
    // unchanged when `url` holds no "file:".
    bool createFromFileURL(CAtlString url);

    static CAtlString MakeNameLegal(const CAtlString& name); // drops <>:"/\|?*
    bool IsValidForCrossPlatform() const;
    // Cleans the name; an empty name becomes `defaultName`, a dot name gets it
    // in front: "/d/?*" -> "/d/untitled", "/d/.x" -> "/d/untitled.x".
    void MakeValidForCrossPlatform(const CAtlString& defaultName);

    unsigned long GetFileSize() const; // 0xFFFFFFFF when unknown
    uint32_t GetFileChecksum() const;  // CRC-32 of the content; 0 when unreadable

    // A free name in the temporary-file directory ("SVLTemp" for an empty base).
    static COrvikFilePath CreateTempFileName(const CAtlString& extension,
                                             const CAtlString& baseName);

    static const CAtlString CS_TEMP_FILE_NAME_PREFIX; // "SVLImageTemp"

private:
    friend class COrvikDirectoryPath;
    CAtlString m_path;
};
