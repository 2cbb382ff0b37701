// Windows-style path-string helpers over zero-terminated 16-bit POSIX paths.
#include "win32compat/PathString.h"
#include "win32compat/Units16.h"

#include <cstring>
#include <vector>

#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"
#include "platform/FileManager.h"
#include "platform/LaunchServices.h"
#include "strings/UcaString.h"
#include "win32compat/FileHandle.h"

using orvik::win::U16;

namespace {

constexpr int kPathLimit = 260; // units of a Windows path buffer, terminator included

template <class Ch> int Length(const Ch* s) {
    int n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

template <class Ch> int ExtensionIndex(const Ch* path) {
    if (path == nullptr)
        return -1;
    int dot = -1;
    int slash = -1;
    for (int i = 0; path[i] != 0; ++i) {
        if (path[i] == '.')
            dot = i;
        else if (path[i] == '/')
            slash = i;
    }
    return dot > slash ? dot : -1;
}

template <class Ch> void RemoveExtension(Ch* path) {
    const int dot = ExtensionIndex(path);
    if (dot >= 0)
        path[dot] = 0;
}

unsigned short* US(char16_t* s) {
    return reinterpret_cast<unsigned short*>(s);
}

// Appends one scanned component (held reversed in `comp`) and its separator to the
// reversed output, following the rules for ".", ".." and empty components.
void EmitComponent(std::vector<char16_t>& out, std::vector<char16_t>& comp, int& pending) {
    const bool dot = comp.size() == 1 && comp[0] == '.';
    const bool dotdot = comp.size() == 2 && comp[0] == '.' && comp[1] == '.';
    if (comp.empty()) {
        if (pending == 0)
            out.push_back('/');
        else
            --pending;
    } else if (dot) {
        // "." goes away with its separator.
    } else if (dotdot) {
        ++pending;
    } else if (pending > 0) {
        --pending;
    } else {
        out.insert(out.end(), comp.begin(), comp.end());
        out.push_back('/');
    }
    comp.clear();
}

} // namespace

int GetExtensionIndex(const char16_t* path) {
    return ExtensionIndex(path);
}
int GetExtensionIndex(const unsigned short* path) {
    return ExtensionIndex(path);
}
int GetExtensionIndexA(const char* path) {
    return ExtensionIndex(path);
}

char16_t* PathFindExtension(const char16_t* path) {
    const int dot = ExtensionIndex(path);
    return dot < 0 ? nullptr : const_cast<char16_t*>(path + dot);
}
unsigned short* PathFindExtension(const unsigned short* path) {
    return US(PathFindExtension(U16(path)));
}

BOOL PathRenameExtension(char16_t* path, const char16_t* ext) {
    const int dot = ExtensionIndex(path);
    if (dot < 0)
        return FALSE;
    const int n = ext == nullptr ? 0 : Length(ext);
    if (dot + n + 2 > kPathLimit)
        return FALSE;
    for (int i = 0; i < n; ++i)
        path[dot + 1 + i] = ext[i];
    path[dot + 1 + n] = 0;
    return TRUE;
}
BOOL PathRenameExtension(unsigned short* path, const unsigned short* ext) {
    return PathRenameExtension(U16(path), U16(ext));
}

void PathRemoveExtension(char16_t* path) {
    RemoveExtension(path);
}
void PathRemoveExtension(unsigned short* path) {
    RemoveExtension(path);
}
void PathRemoveExtensionA(char* path) {
    RemoveExtension(path);
}

char16_t* PathAddBackslash(char16_t* path) {
    if (path == nullptr)
        return nullptr;
    const int n = Length(path);
    if (n == 0 || path[n - 1] != '/') {
        path[n] = '/';
        path[n + 1] = 0;
    }
    return path;
}
unsigned short* PathAddBackslash(unsigned short* path) {
    return US(PathAddBackslash(U16(path)));
}

char16_t* PathRemoveBackslash(char16_t* path) {
    if (path == nullptr)
        return nullptr;
    int i = Length(path);
    if (i == 0)
        return path;
    while (i - 1 > 0 && path[i - 1] == '/')
        path[--i] = 0;
    return path + i;
}
unsigned short* PathRemoveBackslash(unsigned short* path) {
    return US(PathRemoveBackslash(U16(path)));
}

char16_t* PathFindFileName(const char16_t* path) {
    if (path == nullptr)
        return nullptr;
    const int n = Length(path);
    if (n == 0)
        return const_cast<char16_t*>(path);
    int i = n - 1;
    while (i > 0 && path[i] == '/')
        --i;
    while (i > 0 && path[i] != '/')
        --i;
    return const_cast<char16_t*>(path[i] == '/' ? path + i + 1 : path + i);
}
unsigned short* PathFindFileName(const unsigned short* path) {
    return US(PathFindFileName(U16(path)));
}
char* PathFindFileNameA(const char*) {
    return nullptr;
}

BOOL PathRemoveFileSpec(char16_t* path) {
    if (path == nullptr || path[0] == 0)
        return FALSE;
    int i = Length(path) - 1;
    if (path[i] != '/') {
        while (i > 0 && path[i] != '/')
            --i;
        path[i] = 0;
    } else {
        while (i > 0 && path[i] == '/')
            --i;
        path[i + 1] = 0;
    }
    return TRUE;
}
BOOL PathRemoveFileSpec(unsigned short* path) {
    return PathRemoveFileSpec(U16(path));
}

BOOL PathAppend(char16_t* path, const char16_t* more) {
    if (path == nullptr)
        return FALSE;
    int pos = Length(path);
    if (pos > kPathLimit - 1)
        return FALSE;
    if (more == nullptr)
        more = u"";
    // An empty path takes `more` as it is, so that appending to nothing does not make the
    // result absolute.
    if (pos > 0 && path[pos - 1] != '/' && more[0] != '/')
        path[pos++] = '/';
    while (*more != 0 && pos <= kPathLimit - 1)
        path[pos++] = *more++;
    path[pos] = 0;
    return TRUE;
}
BOOL PathAppend(unsigned short* path, const unsigned short* more) {
    return PathAppend(U16(path), U16(more));
}

BOOL PathCanonicalize(char16_t* out, const char16_t* in) {
    if (out == nullptr || in == nullptr || in[0] == 0)
        return FALSE;
    const int n = Length(in);
    std::vector<char16_t> rev; // the output, built from the end of the path backwards
    rev.reserve(n + 1);
    std::vector<char16_t> comp; // the component being scanned, reversed
    int pending = 0;            // ".." steps not yet used up
    for (int i = n - 1; i >= 0; --i) {
        if (in[i] == '/')
            EmitComponent(rev, comp, pending);
        else
            comp.push_back(in[i]);
    }
    if (!comp.empty()) {
        if (pending == 0) {
            rev.insert(rev.end(), comp.begin(), comp.end());
        } else if (!rev.empty() && rev.back() == '/') {
            // The leading component goes and so does the separator that followed it, so
            // that a relative path stays relative: "a/../b" gives "b", not "/b".
            rev.pop_back();
        }
    }
    rev.push_back(0);
    std::memcpy(out, rev.data(), rev.size() * sizeof(char16_t));
    ucareverse(out);
    return TRUE;
}
BOOL PathCanonicalize(unsigned short* out, const unsigned short* in) {
    return PathCanonicalize(U16(out), U16(in));
}

BOOL PathFileExists(const char16_t* path) {
    FSRef ref;
    return path != nullptr && GetFSRefFromFilename(path, &ref, false, false) == noErr;
}
BOOL PathFileExists(const unsigned short* path) {
    return PathFileExists(U16(path));
}

BOOL PathIsDirectory(const char16_t* path) {
    FSRef ref;
    FSCatalogInfo info;
    if (!orvik::win32file::ResolveWithCatalogInfo(path, kFSCatInfoPermissions, &ref, &info))
        return FALSE;
    return (orvik::win32file::ModeOf(info) & orvik::win32file::kModeFolder) != 0 ? TRUE : FALSE;
}
BOOL PathIsDirectory(const unsigned short* path) {
    return PathIsDirectory(U16(path));
}

int PathIsExe(const char16_t* path) {
    if (path == nullptr)
        return -1;
    const orvik::CFRef<CFStringRef> str(
        CFStringCreateWithCharacters(kCFAllocatorDefault, reinterpret_cast<const UniChar*>(path),
                                     static_cast<CFIndex>(ucalen(path))));
    if (!str)
        return -1;
    char utf8[1024];
    if (!CFStringGetCString(str.get(), utf8, sizeof utf8, kCFStringEncodingUTF8))
        return -1;
    FSRef ref;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(utf8), &ref, nullptr) != noErr)
        return -1;
    LSItemInfoRecord info{};
    if (LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info) != noErr)
        return -1;
    const orvik::CFRef<CFStringRef> extension(info.extension);
    return (info.flags & (kLSItemInfoIsApplication | kLSItemInfoIsNativeApp)) != 0 ? 1 : 0;
}
int PathIsExe(const unsigned short* path) {
    return PathIsExe(U16(path));
}
