// File URLs and references. A URL's path crosses to bytes with the file
// manager's own escape (lone U+DC80..U+DCFF back to single bytes), so a name
// that is not UTF-8, listed from a folder, can be named again by URL.
#include "platform/CFRef.h"
#include "platform/files/FileManagerInternal.h"

#include <climits>

#include "platform/CoreFoundation.h"

using namespace orvik::fm;

Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef) {
    if (!url || !fsRef)
        return false;
    // The bytes straight from the URL when they fit; they are the bytes the
    // UTF-16 path below would turn back into.
    UInt8 direct[PATH_MAX];
    if (CFURLGetFileSystemRepresentation(url, true, direct, sizeof direct))
        return ResolvePath(reinterpret_cast<const char*>(direct), true, fsRef, nullptr) == noErr;
    const orvik::CFRef<CFStringRef> path(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle));
    if (!path)
        return false;
    std::u16string units(size_t(CFStringGetLength(path.get())), u'\0');
    CFStringGetCharacters(path.get(), CFRange{0, CFIndex(units.size())}, units.data());
    std::string bytes;
    if (!UnicodeToBytes(units.data(), units.size(), bytes))
        return false;
    return ResolvePath(bytes, true, fsRef, nullptr) == noErr;
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef) {
    OrvikFSNode* node = NodeOf(fsRef);
    if (!node)
        return nullptr;
    std::u16string units;
    BytesToUnicode(PathOf(node), units);
    const orvik::CFRef<CFStringRef> path(
        CFStringCreateWithCharacters(allocator, units.data(), CFIndex(units.size())));
    if (!path)
        return nullptr;
    return CFURLCreateWithFileSystemPath(allocator, path.get(), kCFURLPOSIXPathStyle,
                                         node->isDir());
}

bool orvik::fm::FSRefFromAbsoluteUnits(const UniChar* path, size_t length, FSRef* ref,
                                       OSErr* status) {
    if (!path || length == 0 || path[0] != u'/' || !ref || !status)
        return false;
    std::string bytes;
    if (!UnicodeToBytes(path, length, bytes))
        return false; // the URL's own route says what such a text names
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    *status = ResolvePath(bytes, true, ref, nullptr);
    return true;
}
