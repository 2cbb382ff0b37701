// Directory listing, name patterns, free names and the well-known folders.
//
// A listing reads the directory through one descriptor (readdir with d_type;
// one fstatat without following links only where the file system leaves the
// type unknown). A symbolic link is never a directory here, whatever it
// points to, so recursive listings and the tree operations built on them
// never descend through a link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "paths/PathClasses.h"
#include "platform/CoreFoundation.h"
#include "platform/FileManager.h"
#include "resources/MessageBox.h"
#include "win32compat/FileSystem.h"
#include "win32compat/PathString.h"

namespace {

// Names cross between UTF-16 and bytes with the file manager's conversion, so
// a name that is not valid UTF-8 on disk comes back as the same bytes.
bool PathToBytes(const CAtlString& path, std::string& bytes) {
    size_t units = static_cast<size_t>(path.GetLength());
    bytes.resize(units * 3 + 1);
    size_t length = 0;
    if (units == 0 || !FSNameUnicodeToBytes(reinterpret_cast<const UniChar*>(path.GetString()),
                                            units, bytes.data(), bytes.size(), &length))
        return false;
    bytes.resize(length);
    return true;
}

CAtlString NameFromBytes(const char* bytes, size_t length) {
    UniChar units[512]; // a name has at most 255 bytes, each at most one unit
    UniCharCount count = 0;
    if (length > 512 || !FSNameBytesToUnicode(bytes, length, units, 512, &count) || count == 0)
        return CAtlString();
    return CAtlString(reinterpret_cast<const char16_t*>(units), static_cast<int>(count));
}

// Opens a directory for reading, following links in every component as the
// path classes' existence test does. Paths too long for one open() are
// walked component by component.
int OpenDirectory(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENAMETOOLONG)
        return fd;
    int at = path[0] == '/' ? open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    if (at == -1)
        return -1;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            std::string component = path.substr(start, end - start);
            int next = openat(at, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (at != AT_FDCWD)
                close(at);
            if (next == -1)
                return -1;
            at = next;
        }
        start = end + 1;
    }
    return at == AT_FDCWD ? open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : at;
}

// Calls visit(name, isDirectory) for every entry but "." and "..", in the
// file system's order. False when the directory can't be opened; a read
// error part-way ends the enumeration with what was seen.
template <class Visit> bool EnumerateDirectory(const CAtlString& path, Visit visit) {
    std::string bytes;
    if (!PathToBytes(path, bytes))
        return false;
    int fd = OpenDirectory(bytes);
    if (fd == -1)
        return false;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone meanwhile
            isDirectory = S_ISDIR(st.st_mode);
        }
        visit(name, strlen(name), isDirectory);
    }
    closedir(dir);
    return true;
}

} // namespace

// ---- Name pattern --------------------------------------------------------

bool MatchNamePattern(const char16_t* pattern, const char16_t* name) {
    static const char16_t kEmpty[] = u"";
    const char16_t* pat = pattern != nullptr ? pattern : kEmpty;
    const char16_t* str = name != nullptr ? name : kEmpty;
    size_t p = 0, n = 0;
    char16_t x = pat[p], y = str[n];
    for (;;) {
        // End test: the name has ended.
        if (y == 0)
            return x == 0 || (x == u'*' && pat[p + 1] == 0);
        if (x == u'*') {
            // Star: swallow name units up to the first one equal to the pattern
            // unit after the star (no backtracking).
            x = pat[++p];
            bool restart = false;
            while (x != y && x != u'?') {
                ++n;
                if (x == u'*') { // a second star: one unit on, then it takes effect
                    restart = true;
                    break;
                }
                y = str[n];
                if (y == 0)
                    return x == 0 || (x == u'*' && pat[p + 1] == 0);
            }
            if (restart) {
                x = pat[p];
                y = str[n];
            }
            continue; // back to the end test with this x and y
        }
        if (x != u'?' && x != y)
            return false;
        x = pat[++p];
        y = str[++n];
    }
}

// ---- Listing -------------------------------------------------------------

// The last components (what GetLastDirectoryName gives) compared as
// CAtlString::Compare compares two strings (CFStringCompare, no flags), read in
// place: a recursive listing sorts its whole list at every level, so this runs
// hundreds of thousands of times on a large tree and must not copy.
int compareDirfunc(const void* a, const void* b) {
    auto lastName = [](const void* p) {
        const CAtlString& path = static_cast<const COrvikDirectoryPath*>(p)->m_path;
        const char16_t* name = PathFindFileName(path.GetString());
        const CFIndex length = path.GetLength() - CFIndex(name - path.GetString());
        return CFStringCreateWithCharactersNoCopy(
            kCFAllocatorDefault, reinterpret_cast<const UniChar*>(name), length, kCFAllocatorNull);
    };
    CFStringRef left = lastName(a);
    CFStringRef right = lastName(b);
    const int order = left && right ? int(CFStringCompare(left, right, 0)) : 0;
    if (left)
        CFRelease(left);
    if (right)
        CFRelease(right);
    return order;
}

void COrvikDirectoryPath::SortPaths(CDirectoryPathArray& list) const {
    if (list.m_nSize > 1)
        qsort(static_cast<void*>(list.m_pData), list.m_nSize, sizeof(COrvikDirectoryPath),
              compareDirfunc);
}

void COrvikDirectoryPath::ListSubDirectories(const CAtlString& pattern, CDirectoryPathArray& list,
                                             bool recursive) const {
    if (!DirectoryExists())
        return;
    // The names are gathered first and the directory closed before descending,
    // so a deep tree never holds one descriptor per level.
    std::vector<CAtlString> names;
    bool opened =
        EnumerateDirectory(m_path, [&](const char* name, size_t length, bool isDirectory) {
            if (isDirectory)
                names.push_back(NameFromBytes(name, length));
        });
    if (!opened)
        return;
    for (const CAtlString& name : names) {
        COrvikDirectoryPath child(*this);
        child.AddDirectoryToPath(name);
        if (MatchNamePattern(pattern.GetString(), name.GetString()))
            list.Add(child);
        if (recursive)
            child.ListSubDirectories(pattern, list, true);
    }
    SortPaths(list);
}

void COrvikDirectoryPath::FindFilesInDirectory(const CAtlString& pattern,
                                               CFilePathArray& list) const {
    if (!DirectoryExists())
        return;
    EnumerateDirectory(m_path, [&](const char* bytes, size_t length, bool isDirectory) {
        if (isDirectory)
            return;
        CAtlString name = NameFromBytes(bytes, length);
        if (MatchNamePattern(pattern.GetString(), name.GetString()))
            list.Add(CreateFilePath(name));
    });
}

// ---- Free names ----------------------------------------------------------

COrvikFilePath
COrvikDirectoryPath::CreateTempFileNameInDirectory(const CAtlString& baseName,
                                                   const CAtlString& extension) const {
    CAtlString text;
    text.Format(u"%s%c%s%s", m_path.GetString(), '/', baseName.GetString(), extension.GetString());
    COrvikFilePath candidate(text);
    while (candidate.FileExists()) {
        text.Format(u"%s%c%s(%d)%s", m_path.GetString(), '/', baseName.GetString(), rand(),
                    extension.GetString());
        candidate = COrvikFilePath(text);
    }
    return candidate;
}

COrvikFilePath COrvikFilePath::CreateTempFileName(const CAtlString& extension,
                                                  const CAtlString& baseName) {
    CAtlString base = baseName.IsEmpty() ? CAtlString(u"SVLTemp") : baseName;
    return COrvikDirectoryPath::GetTempFileDirectoryPath().CreateTempFileNameInDirectory(base,
                                                                                         extension);
}

COrvikDirectoryPath
COrvikDirectoryPath::CreateUniqueSubDirectoryPath(const COrvikDirectoryPath& parent,
                                                  const CAtlString& name) {
    COrvikDirectoryPath candidate(parent);
    candidate.AddDirectoryToPath(name);
    for (int k = 1; candidate.DirectoryExists(); ++k) {
        CAtlString numbered;
        numbered.Format(u"%s%d", name.GetString(), k);
        candidate = parent;
        candidate.AddDirectoryToPath(numbered);
    }
    return candidate;
}

// ---- Well-known folders --------------------------------------------------

COrvikDirectoryPath COrvikDirectoryPath::GetTempDirectoryPath() {
    CAtlString buffer;
    GetTempPath(260, buffer.GetBuffer(260));
    buffer.ReleaseBuffer(-1);
    return COrvikDirectoryPath(buffer);
}

COrvikDirectoryPath COrvikDirectoryPath::GetTempFileDirectoryPath() {
    if (my_GlobalTempFilePath.IsEmptyPath())
        return GetTempDirectoryPath();
    return my_GlobalTempFilePath;
}

void COrvikDirectoryPath::SetTempFileDirectoryPath(COrvikDirectoryPath& directory) {
    my_GlobalTempFilePath.m_path = directory.m_path;
}

COrvikDirectoryPath COrvikDirectoryPath::GetORVIKDirectoryPath() {
    COrvikDirectoryPath path = GetTempDirectoryPath();
    path.AddDirectoryToPath(u"ORVIK Technologies");
    return path;
}

COrvikDirectoryPath COrvikDirectoryPath::GetScrivletTempDirectoryPath() {
    COrvikDirectoryPath path = GetORVIKDirectoryPath();
    path.AddDirectoryToPath(CScrivletEditionHelper::IsScrivletStudentMode() ? u"ORVIK Scrivlet SE"
                                                                            : u"ORVIK Scrivlet");
    return path;
}

COrvikDirectoryPath
COrvikDirectoryPath::GetApplicationTempFileDirectoryPath(const CAtlString& applicationName) {
    COrvikDirectoryPath path = GetORVIKDirectoryPath();
    if (CScrivletEditionHelper::IsScrivletStudentMode() &&
        applicationName.CompareNoCase(u"ORVIK Scrivlet") == 0)
        path.AddDirectoryToPath(u"ORVIK Scrivlet SE");
    else
        path.AddDirectoryToPath(applicationName);
    path.AddDirectoryToPath(u"TempFiles");
    return path;
}
