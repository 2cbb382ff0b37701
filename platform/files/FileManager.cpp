// File references over POSIX: the value semantics of FSRef and the calls
// that make, compare and print references.
//
// Operations reach an object as (descriptor of its folder, its name), so the
// kernel never follows a link on their behalf.
#include "platform/cf/Utf8Codec.h"
#include "platform/files/FileManagerInternal.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

using namespace orvik::fm;

// ---- FSRef value semantics ----

FSRef::FSRef(const FSRef& other) noexcept : node(Retain(other.node)) {}
FSRef::FSRef(FSRef&& other) noexcept : node(other.node) {
    other.node = nullptr;
}
FSRef& FSRef::operator=(const FSRef& other) noexcept {
    if (this != &other)
        SetRef(this, Retain(other.node));
    return *this;
}
FSRef& FSRef::operator=(FSRef&& other) noexcept {
    if (this != &other) {
        SetRef(this, other.node);
        other.node = nullptr;
    }
    return *this;
}
FSRef::~FSRef() {
    Release(node);
}

// ---- Public calls ----

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
    return FSPathMakeRefWithOptions(path, kFSPathMakeRefDefaultOptions, ref, isDirectory);
}

OSStatus FSPathMakeRefWithOptions(const UInt8* path, OptionBits options, FSRef* ref,
                                  Boolean* isDirectory) {
    if (!path || !ref)
        return paramErr;
    std::string_view text(reinterpret_cast<const char*>(path));
    // Only UTF-8: a path narrowed to another encoding must not name another file.
    if (!IsValidUtf8(text.data(), text.size()))
        return fnfErr;
    return ResolvePath(text, !(options & kFSPathMakeRefDoNotFollowLeafSymlink), ref, isDirectory);
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || !path)
        return paramErr;
    std::string text = PathOf(node);
    if (text.size() + 1 > maxPathSize)
        return pathTooLongErr;
    memcpy(path, text.c_str(), text.size() + 1);
    return noErr;
}

OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                         TextEncoding /*textEncodingHint*/, FSRef* newRef) {
    OrvikFSNode* parent = NodeOf(parentRef);
    if (!parent || !newRef || (nameLength && !name))
        return paramErr;
    std::string bytes;
    switch (NameToBytes(name, nameLength, bytes)) {
    case NameCheck::ok:
        break;
    case NameCheck::invalid:
        return fnfErr; // nothing can have that name
    case NameCheck::tooLong:
        return errFSNameTooLong;
    }
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    if (OSErr status = OpenFolder(parent, dir))
        return status;
    struct statx st;
    if (int error = StatxAt(dir.fd(), bytes.c_str(), FactsMask(STATX_TYPE | STATX_INO), &st))
        return StatusFromErrno(error);
    SetRef(newRef, NodeFromStatx(Retain(parent), bytes, st));
    KeepFacts(newRef->node, st);
    return noErr;
}

OSErr PBMakeFSRefUnicodeSync(FSRefParam* paramBlock) {
    if (!paramBlock)
        return paramErr;
    paramBlock->ioResult =
        FSMakeFSRefUnicode(paramBlock->ref, paramBlock->nameLength, paramBlock->name,
                           paramBlock->textEncodingHint, paramBlock->newRef);
    return paramBlock->ioResult;
}

OSErr FSCompareFSRefs(const FSRef* ref1, const FSRef* ref2) {
    OrvikFSNode* a = NodeOf(ref1);
    OrvikFSNode* b = NodeOf(ref2);
    if (!a || !b)
        return paramErr;
    if (a == b)
        return noErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    struct statx sa, sb;
    const char* name;
    {
        DirFd dir;
        if (OSErr status = OpenParent(a, dir, &name))
            return status;
        if (int error = StatxAt(dir.fd(), name, STATX_INO, &sa))
            return StatusFromErrno(error);
    }
    {
        DirFd dir;
        if (OSErr status = OpenParent(b, dir, &name))
            return status;
        if (int error = StatxAt(dir.fd(), name, STATX_INO, &sb))
            return StatusFromErrno(error);
    }
    bool same = sa.stx_ino == sb.stx_ino && sa.stx_dev_major == sb.stx_dev_major &&
                sa.stx_dev_minor == sb.stx_dev_minor;
    return same ? OSErr(noErr) : OSErr(errFSRefsDifferent);
}

bool FSNameUnicodeToBytes(const UniChar* units, UniCharCount count, char* out, size_t outSize,
                          size_t* outLength) {
    std::string bytes;
    if ((count && !units) || !UnicodeToBytes(units, count, bytes))
        return false;
    if (out) {
        if (bytes.size() + 1 > outSize)
            return false;
        memcpy(out, bytes.c_str(), bytes.size() + 1);
    }
    if (outLength)
        *outLength = bytes.size();
    return true;
}

// Straight into the caller's buffer: at most one unit per byte.
bool FSNameBytesToUnicode(const char* bytes, size_t length, UniChar* out, size_t outCapacity,
                          UniCharCount* outLength) {
    if (!bytes && length)
        return false;
    const std::string_view text(bytes ? bytes : "", length);
    size_t count = 0;
    if (out && length <= outCapacity) {
        orvik::utf8::DecodePath(text, [&](char16_t unit) { out[count++] = unit; });
    } else {
        orvik::utf8::DecodePath(text, [&](char16_t) { ++count; });
        if (out) {
            if (count > outCapacity)
                return false;
            count = 0;
            orvik::utf8::DecodePath(text, [&](char16_t unit) { out[count++] = unit; });
        }
    }
    if (outLength)
        *outLength = count;
    return true;
}
