// Path value classes: normal form, string surgery, cross-platform name checks
// and the questions put to the file system.
#include "paths/PathClasses.h"

#include <sys/stat.h>

#include <ctime>

#include "resources/MessageBox.h"
#include "strings/Utf8String.h"
#include "win32compat/FileHandle.h"
#include "win32compat/FileSystem.h"
#include "win32compat/PathString.h"
#include "win32compat/WinTypes.h"

namespace {

// Characters that some platform refuses in a path, in a name, and anywhere.
constexpr const char16_t* kPathCharacters = u"|><?*\"";
constexpr const char16_t* kNameCharacters = u"|><?*\":";
constexpr const char16_t* kLegalNameCharacters = u"<>:\"/\\|?*";

void RemoveEach(CAtlString& text, const char16_t* set) {
    for (const char16_t* c = set; *c != 0; ++c)
        text.Remove(*c);
}

int DaysSinceModification(const CAtlString& path) {
    CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(path);
    struct stat st;
    if (stat(utf8.GetString(), &st) != 0)
        return 0;
    return static_cast<int>(difftime(time(nullptr), st.st_mtime) / 86400.0);
}

// The units from the last '.' when it lies after the last '/', else -1.
int ExtensionIndex(const CAtlString& path) {
    int slash = path.ReverseFind(u'/');
    int dot = path.ReverseFind(u'.');
    return (dot != -1 && slash <= dot) ? dot : -1;
}

} // namespace

// ---- Free path functions -------------------------------------------------

CAtlString FixFolderPathForPlatform(const CAtlString& path) {
    CAtlString result(path);
    result.Replace(u'\\', u'/');
    int length = result.GetLength();
    if (length > 0 && result.GetAt(length - 1) == u'/')
        result.Truncate(length - 1);
    return result;
}

CAtlString FixFilePathForPlatform(const CAtlString& path) {
    return FixFolderPathForPlatform(path);
}

bool FilePathIsValidForAllPlatforms(const CAtlString& path) {
    if (path.FindOneOf(kPathCharacters) != -1)
        return false;
    if (path.Find(u':') == -1)
        return true;
    return path.Find(u":\\") == 1 && path.Find(u':', 2) == -1;
}

bool FileNameIsValidForAllPlatforms(const CAtlString& name) {
    return name.FindOneOf(kNameCharacters) == -1;
}

void FixFilePathInvalidCharacters(CAtlString& path) {
    RemoveEach(path, kPathCharacters);
    if (path.Find(u":\\") != 1) {
        path.Remove(u':');
        return;
    }
    // Keep the drive colon at index 1; drop every later one.
    for (int i = path.GetLength() - 1; i >= 2; --i)
        if (path.GetAt(i) == u':')
            path.Delete(i, 1);
}

void FixFileNameInvalidCharacters(CAtlString& name) {
    RemoveEach(name, kNameCharacters);
}

void CleanupPathNameBecauseWindowsHasBugs(CAtlString& path) {
    int colon = path.ReverseFind(u':');
    // GetAt(GetLength()) is the terminator, so a final ':' is followed by 0.
    if (colon > 3 && path.GetAt(colon + 1) == u'\\')
        path = path.Mid(colon - 1);
}

bool GetFsRefFromString(CAtlString path, FSRef* ref) {
    return GetFSRefFromFilename(path.GetString(), ref, false, false) == 0;
}

// ---- COrvikDirectoryPath -------------------------------------------------

COrvikDirectoryPath COrvikDirectoryPath::my_GlobalTempFilePath;

COrvikDirectoryPath::COrvikDirectoryPath(const CAtlString& path)
    : m_path(FixFolderPathForPlatform(path)) {}

COrvikDirectoryPath COrvikDirectoryPath::CreateDirectoryPath(const CAtlString& path) {
    return COrvikDirectoryPath(path);
}

CAtlStringA COrvikDirectoryPath::GetDirectoryPathStringA() const {
    ATLTRACE("\r\n\r\nIMPORTANT: you are calling "
             "COrvikDirectoryPath::GetDirectoryPathStringA().\r\nThis function may "
             "cause problems if the path contains Unicode characters.\r\nPlease rewrite your code "
             "not to use this "
             "function.");
    return CAtlStringA(m_path);
}

CAtlString COrvikDirectoryPath::GetLastDirectoryName() const {
    return CAtlString(PathFindFileName(m_path.GetString()));
}

bool COrvikDirectoryPath::DirectoryExists() const {
    if (m_path.IsEmpty())
        return false;
    return PathFileExists(m_path.GetString()) != 0;
}

bool COrvikDirectoryPath::CanDirectoryBeWrittenTo() const {
    ATLTRACE("\r\n\r\nIMPORTANT: You are calling "
             "COrvikDirectoryPath::CanDirectoryBeWrittenTo.\r\nThis method is NOT "
             "implemented on Mac or Windows.\r\nPlease add Mac and Windows implementations of this "
             "method.");
    return true;
}

int COrvikDirectoryPath::GetNumberOfDaysOld() const {
    return DaysSinceModification(m_path);
}

bool COrvikDirectoryPath::IsEqualPath(const COrvikDirectoryPath& other) const {
    return m_path.CompareNoCase(other.m_path) == 0;
}

bool COrvikDirectoryPath::IsEqualPath(const COrvikFilePath& other) const {
    return m_path.CompareNoCase(other.m_path) == 0;
}

bool COrvikDirectoryPath::IsSubdirectoryOf(const COrvikDirectoryPath& parent) const {
    int parentLength = parent.m_path.GetLength();
    if (m_path.IsEmpty() || parentLength == 0 || parentLength > m_path.GetLength())
        return false;
    return m_path.Left(parentLength).CompareNoCase(parent.m_path) == 0;
}

void COrvikDirectoryPath::AddDirectoryToPath(const CAtlString& name) {
    if (name.IsEmpty())
        return;
    m_path += u'/';
    m_path += name;
    m_path = FixFolderPathForPlatform(m_path);
}

bool COrvikDirectoryPath::RemoveLastSubdirectoryFromPath() {
    int slash = m_path.ReverseFind(u'/');
    if (slash == -1)
        return false;
    m_path = m_path.Left(slash);
    return true;
}

COrvikFilePath COrvikDirectoryPath::CreateFilePath(const CAtlString& fileName) const {
    CAtlString text;
    text.Format(u"%s%c%s", m_path.GetString(), '/', fileName.GetString());
    return COrvikFilePath(text);
}

bool COrvikDirectoryPath::IsValidForCrossPlatform() const {
    return FilePathIsValidForAllPlatforms(m_path);
}

void COrvikDirectoryPath::MakeValidForCrossPlatform() {
    FixFilePathInvalidCharacters(m_path);
}

// ---- COrvikFilePath ------------------------------------------------------

const CAtlString COrvikFilePath::CS_TEMP_FILE_NAME_PREFIX(u"SVLImageTemp");

COrvikFilePath::COrvikFilePath(const CAtlString& path) : m_path(FixFilePathForPlatform(path)) {}

CAtlStringA COrvikFilePath::GetFilePathStringA() const {
    ATLTRACE("\r\n\r\nIMPORTANT: you are calling COrvikFilePath::GetFilePathStringA().\r\nThis "
             "function may cause "
             "problems if the path contains Unicode characters.\r\nPlease rewrite your code not to "
             "use this function.");
    return CAtlStringA(m_path);
}

CAtlString COrvikFilePath::GetFileName() const {
    int slash = m_path.ReverseFind(u'/');
    return slash == -1 ? m_path : m_path.Mid(slash + 1);
}

CAtlStringA COrvikFilePath::GetFileNameA() const {
    ATLTRACE("\r\n\r\nIMPORTANT: you are calling COrvikFilePath::GetFileNameA().\r\nThis function "
             "may cause problems if "
             "the path contains Unicode characters.\r\nPlease rewrite your code not to use this "
             "function.");
    return CAtlStringA(GetFileName());
}

CAtlString COrvikFilePath::GetBaseFileName() const {
    CAtlString name = GetFileName();
    int dot = name.ReverseFind(u'.');
    return dot == -1 ? name : name.Left(dot);
}

CAtlString COrvikFilePath::GetFileExtension() const {
    int dot = ExtensionIndex(m_path);
    return dot == -1 ? CAtlString() : m_path.Mid(dot);
}

COrvikDirectoryPath COrvikFilePath::GetDirectoryPath() const {
    int slash = m_path.ReverseFind(u'/');
    return slash == -1 ? COrvikDirectoryPath() : COrvikDirectoryPath(m_path.Left(slash));
}

bool COrvikFilePath::FileExists() const {
    if (m_path.IsEmpty())
        return false;
    return PathFileExists(m_path.GetString()) != 0;
}

bool COrvikFilePath::IsDirectory() const {
    return PathIsDirectory(m_path.GetString()) != 0;
}

bool COrvikFilePath::IsExecutable() const {
    if (IsDirectory())
        return false;
    return PathIsExe(m_path.GetString()) != 0;
}

bool COrvikFilePath::IsShortCut() const {
    return GetFileExtension().CompareNoCase(u".lnk") == 0;
}

bool COrvikFilePath::IsURLShortCut() const {
    return GetFileExtension().CompareNoCase(u".url") == 0;
}

bool COrvikFilePath::CanFileBeWrittenTo() const {
    if (!FileExists())
        return true;
    return (GetFileAttributes(m_path.GetString()) & FILE_ATTRIBUTE_READONLY) == 0;
}

int COrvikFilePath::GetNumberOfDaysOld() const {
    return DaysSinceModification(m_path);
}

bool COrvikFilePath::IsEqualPath(const COrvikDirectoryPath& other) const {
    return m_path.CompareNoCase(other.m_path) == 0;
}

bool COrvikFilePath::IsEqualPath(const COrvikFilePath& other) const {
    return m_path.CompareNoCase(other.m_path) == 0;
}

void COrvikFilePath::RenameFileExtension(const CAtlString& extension) {
    int dot = ExtensionIndex(m_path);
    if (dot != -1)
        m_path = m_path.Left(dot) + extension;
    else
        m_path += extension;
}

bool COrvikFilePath::createFromFileURL(CAtlString url) {
    int found = url.Find(u"file:");
    if (found == -1)
        return false;
    // Everything after the seven units "file://" that start at `found`.
    int count = url.GetLength() - found - 7;
    m_path = FixFilePathForPlatform(count > 0 ? url.Right(count) : CAtlString());
    return true;
}

CAtlString COrvikFilePath::MakeNameLegal(const CAtlString& name) {
    CAtlString legal(name);
    RemoveEach(legal, kLegalNameCharacters);
    return legal;
}

bool COrvikFilePath::IsValidForCrossPlatform() const {
    return FileNameIsValidForAllPlatforms(GetFileName());
}

void COrvikFilePath::MakeValidForCrossPlatform(const CAtlString& defaultName) {
    int slash = m_path.ReverseFind(u'/');
    CAtlString directory = slash == -1 ? CAtlString() : m_path.Left(slash);
    CAtlString name = slash == -1 ? m_path : m_path.Mid(slash + 1);
    FixFileNameInvalidCharacters(name);
    if (name.IsEmpty())
        name = defaultName;
    else if (name.GetAt(0) == u'.')
        name = defaultName + name;
    m_path = directory + u'/' + name;
}
