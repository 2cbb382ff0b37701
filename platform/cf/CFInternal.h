// Private to the platform library: object layouts and helpers shared by the CF*.cpp
// files. Nothing outside platform/ includes this.
#pragma once

#include "platform/CoreFoundation.h"
#include "platform/cf/Utf8Codec.h"

#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvik::cf {

// Type ids of the built-in types; registered types follow from kFirstDynamicTypeID.
enum : CFTypeID {
    kAllocatorTypeID = 1,
    kStringTypeID,
    kArrayTypeID,
    kDictionaryTypeID,
    kNumberTypeID,
    kBooleanTypeID,
    kDataTypeID,
    kDateTypeID,
    kCharacterSetTypeID,
    kURLTypeID,
    kNullTypeID,
    kFirstDynamicTypeID = 16,
};

constexpr int32_t kImmortal = INT32_MIN / 2;

// The classes of the built-in types, each defined in the file that implements the type
// (constant-initialised, so usable before any dynamic initialisation).
extern const CFRuntimeClass kAllocatorClass, kStringClass, kArrayClass, kDictionaryClass,
    kNumberClass, kBooleanClass, kDataClass, kDateClass, kCharacterSetClass, kURLClass, kNullClass;

// A zero-filled object of `size` bytes with one reference (malloc; throws std::bad_alloc).
void* allocObject(CFTypeID id, size_t size);

inline bool isType(CFTypeRef cf, CFTypeID id) {
    return cf != nullptr && static_cast<const CFRuntimeBase*>(cf)->typeID == id;
}

// Frees memory through a contents deallocator: NULL/default/system/malloc use free,
// kCFAllocatorNull nothing, a created allocator its deallocate callback.
void deallocateWith(CFAllocatorRef deallocator, void* ptr);
bool isNullAllocator(CFAllocatorRef a);

// ---------------------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------------------

enum : uint8_t {
    kStrMutable = 1,   // chars on the heap (or NULL), grows
    kStrExternal = 2,  // chars belong to the caller (NoCopy with kCFAllocatorNull)
    kStrFreeChars = 4, // chars freed with contentsDeallocator at finalize
    kStrInline = 8     // mutable: chars still in the object's own block
};

// Units a new mutable string holds in its own block before it needs a second one.
constexpr CFIndex kMutableInlineUnits = 40;

// The ASCII run helpers belong to the UTF-8 codec; the string code knows them by these names.
using orvik::utf8::asciiPrefix;
using orvik::utf8::narrowAscii;
using orvik::utf8::widenAscii;

// Copies W <= bytes <= 2W bytes as a head and a tail of W bytes each, possibly overlapping,
// both loaded before either is stored.
template <size_t W>
inline void copyHeadAndTail(unsigned char* d, const unsigned char* s, size_t bytes) {
    struct Block {
        unsigned char b[W];
    } head, tail;
    std::memcpy(&head, s, W);
    std::memcpy(&tail, s + bytes - W, W);
    std::memcpy(d, &head, W);
    std::memcpy(d + bytes - W, &tail, W);
}

// Copies n units; source and destination may overlap. Short copies (a directive, a separator,
// a format) are done inline; longer ones go through memmove.
inline void copyUnits(UniChar* dst, const UniChar* src, size_t n) {
    size_t bytes = n * sizeof(UniChar);
    auto* d = reinterpret_cast<unsigned char*>(dst);
    auto* s = reinterpret_cast<const unsigned char*>(src);
    if (bytes > 32)
        std::memmove(d, s, bytes);
    else if (bytes >= 16)
        copyHeadAndTail<16>(d, s, bytes);
    else if (bytes >= 8)
        copyHeadAndTail<8>(d, s, bytes);
    else if (bytes >= 4)
        copyHeadAndTail<4>(d, s, bytes);
    else if (bytes == 2)
        dst[0] = src[0];
}

} // namespace orvik::cf

struct __CFString {
    CFRuntimeBase base;
    UniChar* chars;
    CFIndex length;
    CFIndex capacity;  // mutable: units allocated
    CFIndex maxLength; // mutable: 0 unlimited
    CFAllocatorRef contentsDeallocator;
    char* bytes; // 8-bit form kept beside the units (immutable strings), zero-terminated
    CFStringEncoding bytesEncoding;
    uint8_t flags;
    bool pooled; // the block came from (and goes back to) the thread's block pool
};

namespace orvik::cf {

// An immutable string with room for n units (inline, zero-terminated) and, when
// extraBytes > 0, for that many 8-bit bytes plus a zero after them (s->bytes).
__CFString* newString(CFIndex n, CFIndex extraBytes = 0);
// Strings whose block is at most this size come from the thread's block pool; a string of
// kPooledUnits units fills such a block.
constexpr size_t kPooledBlockBytes = 512;
constexpr CFIndex kPooledUnits = (kPooledBlockBytes - sizeof(__CFString)) / sizeof(UniChar) - 1;
// Gives a string made by newString (without bytes) room for n units, keeping its first
// `keep` units; the block may move. Its length becomes n, zero-terminated.
__CFString* resizeString(__CFString* s, CFIndex keep, CFIndex n);
// Frees the block of a finalized string (CFRelease's last step for strings).
void freeStringBlock(__CFString* s);
// Finalizes a string whose last reference went and frees its block (CFRelease for strings,
// without the look-up of the class).
void destroyString(__CFString* s);
__CFString* newMutableString(CFIndex maxLength);
// Makes room for `needed` units in a mutable string; false when refused (maxLength).
bool reserve(__CFString* s, CFIndex needed);
// Replaces range of s with n units from src (src may point into s).
bool replaceUnits(__CFString* s, CFRange range, const UniChar* src, CFIndex n);

inline const UniChar* chars(CFStringRef s) {
    return s ? s->chars : nullptr;
}
inline CFIndex length(CFStringRef s) {
    return s ? s->length : 0;
}
inline bool isString(CFTypeRef cf) {
    return isType(cf, kStringTypeID);
}
inline bool validRange(CFRange r, CFIndex len) {
    return r.location >= 0 && r.length >= 0 && r.location <= len && r.length <= len - r.location;
}

// Encoding back ends (CFEncoding.cpp).
// Decodes bytes into a new immutable string; NULL when not valid in the encoding.
__CFString* decodeToString(const UInt8* bytes, CFIndex n, CFStringEncoding enc, bool external);
// Encodes units; lossByte 0 stops at the first character the encoding lacks. Returns the
// number of units consumed; *used gets the bytes written (counted when buf is NULL).
CFIndex encodeUnits(const UniChar* s, CFIndex n, CFStringEncoding enc, UInt8 lossByte,
                    bool external, UInt8* buf, CFIndex maxLen, CFIndex* used);
// True when the encoding maps ASCII bytes to the same code points (UTF-8, MacRoman, ...).
bool isAsciiCompatible(CFStringEncoding enc);

// Case folding iterator over UTF-16 (CFStringSearch.cpp): yields full case folded units.
struct FoldIter {
    const UniChar* p;
    const UniChar* end;
    UniChar buf[8];
    int bufPos = 0, bufLen = 0;
    FoldIter(const UniChar* b, const UniChar* e) : p(b), end(e) {}
    bool atBoundary() const { return bufPos == bufLen; }
    // Next folded unit, or -1 at the end.
    int next() {
        if (bufPos < bufLen)
            return buf[bufPos++];
        if (p == end)
            return -1;
        UniChar c = *p;
        if (c < 0x80) {
            ++p;
            return (c >= 'A' && c <= 'Z') ? c + 32 : c;
        }
        return slowNext();
    }
    int slowNext();
};

// Description text of any object (CFBase.cpp), a new string.
CFStringRef copyDescription(CFTypeRef cf);

// Character-set membership (CFString.cpp).
bool charSetContains(CFCharacterSetRef set, UTF32Char c);

} // namespace orvik::cf
