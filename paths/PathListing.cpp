// Directory listing, name patterns, free names and the well-known folders.
//
// A listing resolves its directory through the file manager and reads the
// names through the folder's own descriptor (with d_type; one statx without
// following where the file system leaves the type unknown). A symbolic link is
// never a directory here, whatever it points to, so recursive listings and the
// tree operations built on them never descend through a link; a recursive
// listing also resolves every path beneath its directory without a link in any
// component.
#include <cstdlib>
#include <deque>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "paths/PathClasses.h"
#include "paths/TreeOperation.h"
#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"
#include "platform/FileManager.h"
#include "resources/MessageBox.h"
#include "win32compat/FileSystem.h"
#include "win32compat/PathString.h"

namespace {

// Names cross from bytes to UTF-16 with the file manager's conversion, so a
// name that is not valid UTF-8 on disk comes back as the same bytes.
CAtlString NameFromBytes(std::string_view bytes) {
    UniChar units[512]; // a name has at most 255 bytes, each at most one unit
    UniCharCount count = 0;
    if (bytes.size() > 512 ||
        !FSNameBytesToUnicode(bytes.data(), bytes.size(), units, 512, &count) || count == 0)
        return CAtlString();
    return CAtlString(reinterpret_cast<const char16_t*>(units), static_cast<int>(count));
}

// Calls visit(name, isDirectory) for every entry but "." and "..", in the
// file system's order. False when the directory can't be resolved or read; a
// read error part-way ends the enumeration with what was seen.
template <class Visit> bool EnumerateDirectory(const CAtlString& path, Visit visit) {
    FSRef ref;
    if (!GetFsRefFromString(path, &ref))
        return false;
    bool seen = false;
    OSErr status = orvik::fm::ReadFolderNames(&ref, [&](std::string_view name, bool isFolder) {
        seen = true;
        visit(name, isFolder);
    });
    return status == noErr || seen;
}

// The names of the subdirectories of `directory`, or false when it can't be listed.
bool SubdirectoryNames(const COrvikDirectoryPath& directory, std::vector<CAtlString>& names) {
    orvik::fm::CompoundOperation once; // both steps ask about one directory
    if (!directory.DirectoryExists())
        return false;
    return EnumerateDirectory(directory.GetDirectoryPathString(),
                              [&](std::string_view name, bool isDirectory) {
                                  if (isDirectory)
                                      names.push_back(NameFromBytes(name));
                              });
}

} // namespace

// ---- Shared path strings -------------------------------------------------

namespace orvik::paths {

struct SharedPaths::Table {
    // Keys view the units of the strings they map to, which never change.
    std::unordered_map<std::u16string_view, CAtlString> strings;
};

namespace {
thread_local SharedPaths::Table* t_shared = nullptr;
} // namespace

SharedPaths::SharedPaths() {
    if (!t_shared) {
        table_ = std::make_unique<Table>();
        t_shared = table_.get();
    }
}

SharedPaths::~SharedPaths() {
    if (table_)
        t_shared = nullptr;
}

CAtlString SharedPaths::Share(const CAtlString& path) {
    if (!t_shared)
        return path;
    const std::u16string_view text(path.GetString(), static_cast<size_t>(path.GetLength()));
    // A copy shares the units it was made from, so the key views the kept string.
    return t_shared->strings.try_emplace(text, path).first->second;
}

} // namespace orvik::paths

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
        // From the end: deep paths are long and their last names short.
        const char16_t* begin = path.GetString();
        const char16_t* end = begin + path.GetLength();
        const char16_t* name = end;
        while (name > begin && name[-1] != u'/')
            --name;
        if (name == end && end > begin) // a trailing separator: the general rule
            name = PathFindFileName(begin);
        const CFIndex length = CFIndex(end - name);
        return CFStringCreateWithCharactersNoCopy(
            kCFAllocatorDefault, reinterpret_cast<const UniChar*>(name), length, kCFAllocatorNull);
    };
    const orvik::CFRef<CFStringRef> left(lastName(a));
    const orvik::CFRef<CFStringRef> right(lastName(b));
    return left && right ? int(CFStringCompare(left.get(), right.get(), 0)) : 0;
}

void COrvikDirectoryPath::SortPaths(CDirectoryPathArray& list) const {
    if (list.m_nSize > 1)
        qsort(static_cast<void*>(list.m_pData), list.m_nSize, sizeof(COrvikDirectoryPath),
              compareDirfunc);
}

// Depth first in the file system's order, each directory reported before
// what lies below it, as a recursion would; the levels still to finish live on
// a stack of their own, so depth costs heap, not the call stack. Each level of
// such a recursion sorts the whole list when it ends, and only the outermost
// sort can be seen: every earlier one is followed by another sort of the same
// list, and the order of equal last components is not defined. So the list is
// sorted once, at the end.
void COrvikDirectoryPath::ListSubDirectories(const CAtlString& pattern, CDirectoryPathArray& list,
                                             bool recursive) const {
    std::optional<orvik::paths::TreeOf> scope;
    if (recursive)
        scope.emplace(m_path);
    struct Level {
        COrvikDirectoryPath directory;
        std::vector<CAtlString> names;
        size_t next = 0;
    };
    std::deque<Level> levels(1);
    levels.back().directory = *this;
    if (!SubdirectoryNames(*this, levels.back().names))
        return;
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.names.size()) {
            levels.pop_back();
            continue;
        }
        const CAtlString& name = level.names[level.next++];
        COrvikDirectoryPath child(level.directory);
        child.AddDirectoryToPath(name);
        child.m_path = orvik::paths::SharedPaths::Share(child.m_path);
        if (MatchNamePattern(pattern.GetString(), name.GetString()))
            list.Add(child);
        if (!recursive)
            continue;
        Level below;
        below.directory = child;
        if (SubdirectoryNames(child, below.names))
            levels.push_back(std::move(below));
    }
    SortPaths(list);
}

void COrvikDirectoryPath::FindFilesInDirectory(const CAtlString& pattern,
                                               CFilePathArray& list) const {
    if (!DirectoryExists())
        return;
    EnumerateDirectory(m_path, [&](std::string_view bytes, bool isDirectory) {
        if (isDirectory)
            return;
        CAtlString name = NameFromBytes(bytes);
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
