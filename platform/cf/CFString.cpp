// CFString storage: creation, access, copies, mutation, case mapping and constant
// strings.
//
// An immutable string is one block: the object, then its units and a zero unit, then
// (for strings decoded from 8-bit text) the original bytes and a zero byte. A mutable
// string keeps its units in a separate heap block that grows by half again.
#include "platform/cf/CFInternal.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

using namespace orvik::cf;

namespace {

CFHashCode hashUnits(const UniChar* p, CFIndex n) {
    // FNV-1a over the units; strings equal by CFEqual hash alike.
    uint64_t h = 1469598103934665603ull;
    for (CFIndex i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return static_cast<CFHashCode>(h);
}

void finalizeString(CFTypeRef cf) {
    auto* s = static_cast<__CFString*>(const_cast<void*>(cf));
    if (s->flags & kStrMutable) {
        if (!(s->flags & kStrInline))
            std::free(s->chars);
    } else if (s->flags & kStrFreeChars)
        deallocateWith(s->contentsDeallocator, s->chars);
}

Boolean equalStrings(CFTypeRef a, CFTypeRef b) {
    auto* x = static_cast<CFStringRef>(a);
    auto* y = static_cast<CFStringRef>(b);
    return x->length == y->length &&
           std::memcmp(x->chars, y->chars, sizeof(UniChar) * static_cast<size_t>(x->length)) == 0;
}

CFHashCode hashString(CFTypeRef cf) {
    auto* s = static_cast<CFStringRef>(cf);
    return hashUnits(s->chars, s->length);
}

CFStringRef describeString(CFTypeRef cf) {
    return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(cf));
}

__CFString* mut(CFMutableStringRef s) {
    return (s != nullptr && isString(s) && (s->flags & kStrMutable)) ? s : nullptr;
}

} // namespace

const CFRuntimeClass orvik::cf::kStringClass = {"CFString", finalizeString, equalStrings,
                                                hashString, describeString};

CFTypeID CFStringGetTypeID(void) {
    return kStringTypeID;
}

// ---------------------------------------------------------------------------------------
// Storage
// ---------------------------------------------------------------------------------------

namespace {

// Most strings live for one search or comparison: made, used and released at once. Each
// thread keeps a few freed blocks of one size for the small ones, so that such a string
// costs no trip through malloc and free. Under the address checker every block goes back
// to free, so that a use after release is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolStrings = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPoolStrings = false;
#else
constexpr bool kPoolStrings = true;
#endif
#else
constexpr bool kPoolStrings = true;
#endif
constexpr int kPoolDepth = 16;

struct StringBlockPool {
    void* blocks[kPoolDepth];
    int count = 0;
    bool closed = false; // the thread is ending: blocks go straight back to free
    ~StringBlockPool() {
        closed = true;
        while (count > 0)
            std::free(blocks[--count]);
    }
};
thread_local StringBlockPool tStringBlocks;

__attribute__((always_inline)) inline void* allocateStringBlock(size_t size, bool& pooled) {
    pooled = kPoolStrings && size <= kPooledBlockBytes;
    if (!pooled)
        return std::malloc(size);
    StringBlockPool& pool = tStringBlocks;
    if (pool.count > 0)
        return pool.blocks[--pool.count];
    return std::malloc(kPooledBlockBytes);
}

} // namespace

namespace {

__attribute__((always_inline)) inline void freeBlock(__CFString* s) {
    if (s->pooled) {
        StringBlockPool& pool = tStringBlocks;
        if (!pool.closed && pool.count < kPoolDepth) {
            pool.blocks[pool.count++] = s;
            return;
        }
    }
    std::free(s);
}

} // namespace

void orvik::cf::freeStringBlock(__CFString* s) {
    freeBlock(s);
}

void orvik::cf::destroyString(__CFString* s) {
    if (s->flags != 0) // mutable, or with chars of its own to free
        finalizeString(s);
    freeBlock(s);
}

namespace {

// newString's work, inlined where the string has no 8-bit bytes beside it.
__attribute__((always_inline)) inline __CFString* makeString(CFIndex n, CFIndex extraBytes) {
    size_t size = sizeof(__CFString) + sizeof(UniChar) * (static_cast<size_t>(n) + 1);
    if (extraBytes > 0)
        size += static_cast<size_t>(extraBytes) + 1;
    bool pooled = false;
    auto* s = static_cast<__CFString*>(allocateStringBlock(size, pooled));
    if (s == nullptr)
        throw std::bad_alloc();
    s->pooled = pooled;
    s->base.typeID = kStringTypeID;
    new (&s->base.refCount) std::atomic<int32_t>(1);
    s->chars = reinterpret_cast<UniChar*>(s + 1);
    s->length = n;
    s->capacity = n;
    s->maxLength = 0;
    s->contentsDeallocator = nullptr;
    s->bytes = extraBytes > 0 ? reinterpret_cast<char*>(s->chars + n + 1) : nullptr;
    s->bytesEncoding = kCFStringEncodingInvalidId;
    s->flags = 0;
    s->chars[n] = 0;
    return s;
}

} // namespace

__CFString* orvik::cf::newString(CFIndex n, CFIndex extraBytes) {
    return makeString(n, extraBytes);
}

__CFString* orvik::cf::resizeString(__CFString* s, CFIndex keep, CFIndex n) {
    size_t size = sizeof(__CFString) + sizeof(UniChar) * (static_cast<size_t>(n) + 1);
    __CFString* t = s;
    if (s->pooled && size > kPooledBlockBytes) {
        t = newString(n);
        std::memcpy(t->chars, s->chars, sizeof(UniChar) * static_cast<size_t>(keep));
        freeStringBlock(s);
    } else if (!s->pooled) {
        t = static_cast<__CFString*>(std::realloc(s, size));
        if (t == nullptr)
            throw std::bad_alloc(); // s stays as it was
        t->chars = reinterpret_cast<UniChar*>(t + 1);
    }
    t->length = n;
    t->capacity = n;
    t->chars[n] = 0;
    return t;
}

__CFString* orvik::cf::newMutableString(CFIndex maxLength) {
    // The first units live in the object's own block: one allocation for short texts.
    __CFString* s = makeString(kMutableInlineUnits, 0);
    s->length = 0;
    s->chars[0] = 0;
    s->flags = kStrMutable | kStrInline;
    s->maxLength = maxLength > 0 ? maxLength : 0;
    return s;
}

bool orvik::cf::reserve(__CFString* s, CFIndex needed) {
    if (s->maxLength > 0 && needed > s->maxLength)
        return false;
    if (needed <= s->capacity)
        return true;
    CFIndex cap = std::max<CFIndex>(needed, s->capacity + s->capacity / 2);
    size_t bytes = sizeof(UniChar) * (static_cast<size_t>(cap) + 1);
    UniChar* p;
    if (s->flags & kStrInline) {
        p = static_cast<UniChar*>(std::malloc(bytes));
        if (p != nullptr)
            std::memcpy(p, s->chars, sizeof(UniChar) * (static_cast<size_t>(s->length) + 1));
    } else {
        p = static_cast<UniChar*>(std::realloc(s->chars, bytes));
    }
    if (p == nullptr)
        throw std::bad_alloc();
    s->flags &= static_cast<uint8_t>(~kStrInline);
    s->chars = p;
    s->capacity = cap;
    return true;
}

bool orvik::cf::replaceUnits(__CFString* s, CFRange range, const UniChar* src, CFIndex n) {
    if (!validRange(range, s->length) || n < 0 || (n > 0 && src == nullptr))
        return false;
    CFIndex newLen = s->length - range.length + n;
    // The source may lie inside our own buffer, which reserve() may move.
    std::vector<UniChar> tmp;
    if (n > 0 && s->chars != nullptr && src >= s->chars && src < s->chars + s->capacity + 1) {
        tmp.assign(src, src + n);
        src = tmp.data();
    }
    bool fits = newLen <= s->capacity && (s->maxLength <= 0 || newLen <= s->maxLength);
    if (!fits && !reserve(s, newLen))
        return false;
    UniChar* c = s->chars;
    CFIndex tail = s->length - range.location - range.length;
    copyUnits(c + range.location + n, c + range.location + range.length, static_cast<size_t>(tail));
    copyUnits(c + range.location, src, static_cast<size_t>(n));
    s->length = newLen;
    c[newLen] = 0;
    return true;
}

// ---------------------------------------------------------------------------------------
// Creation
// ---------------------------------------------------------------------------------------

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0 || (numChars > 0 && chars == nullptr))
        return nullptr;
    __CFString* s = makeString(numChars, 0);
    copyUnits(s->chars, chars, static_cast<size_t>(numChars));
    return s;
}

CFStringRef CFStringCreateWithCharactersNoCopy(CFAllocatorRef, const UniChar* chars,
                                               CFIndex numChars,
                                               CFAllocatorRef contentsDeallocator) {
    if (numChars < 0 || (numChars > 0 && chars == nullptr))
        return nullptr;
    __CFString* s = newString(0);
    static const UniChar kEmpty[1] = {0};
    s->chars = const_cast<UniChar*>(chars ? chars : kEmpty);
    s->length = numChars;
    s->capacity = numChars;
    s->contentsDeallocator = contentsDeallocator;
    if (isNullAllocator(contentsDeallocator))
        s->flags = kStrExternal;
    else if (chars != nullptr)
        s->flags = kStrFreeChars;
    return s;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (cStr == nullptr)
        return nullptr;
    return decodeToString(reinterpret_cast<const UInt8*>(cStr),
                          static_cast<CFIndex>(std::strlen(cStr)), encoding, false);
}

CFStringRef CFStringCreateWithCStringNoCopy(CFAllocatorRef alloc, const char* cStr,
                                            CFStringEncoding encoding,
                                            CFAllocatorRef contentsDeallocator) {
    CFStringRef s = CFStringCreateWithCString(alloc, cStr, encoding);
    // The units are decoded into our own storage, so the bytes are done with now.
    if (cStr != nullptr && !isNullAllocator(contentsDeallocator))
        deallocateWith(contentsDeallocator, const_cast<char*>(cStr));
    return s;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
    if (numBytes < 0 || (numBytes > 0 && bytes == nullptr))
        return nullptr;
    return decodeToString(bytes, numBytes, encoding, isExternalRepresentation);
}

CFStringRef CFStringCreateWithBytesNoCopy(CFAllocatorRef alloc, const UInt8* bytes,
                                          CFIndex numBytes, CFStringEncoding encoding,
                                          Boolean isExternalRepresentation,
                                          CFAllocatorRef contentsDeallocator) {
    CFStringRef s =
        CFStringCreateWithBytes(alloc, bytes, numBytes, encoding, isExternalRepresentation);
    if (bytes != nullptr && !isNullAllocator(contentsDeallocator))
        deallocateWith(contentsDeallocator, const_cast<UInt8*>(bytes));
    return s;
}

CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString) {
    if (!isString(theString))
        return nullptr;
    if (!(theString->flags & (kStrMutable | kStrExternal)))
        return static_cast<CFStringRef>(CFRetain(theString));
    return CFStringCreateWithCharacters(alloc, theString->chars, theString->length);
}

CFStringRef CFStringCreateWithSubstring(CFAllocatorRef alloc, CFStringRef str, CFRange range) {
    if (!isString(str) || !validRange(range, str->length))
        return nullptr;
    if (range.location == 0 && range.length == str->length)
        return CFStringCreateCopy(alloc, str);
    return CFStringCreateWithCharacters(alloc, str->chars + range.location, range.length);
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
    static std::mutex lock;
    static auto* cache = new std::unordered_map<std::string, CFStringRef>();
    if (cStr == nullptr)
        cStr = "";
    std::lock_guard<std::mutex> guard(lock);
    auto it = cache->find(cStr);
    if (it != cache->end())
        return it->second;
    CFStringRef s = CFStringCreateWithCString(nullptr, cStr, kCFStringEncodingUTF8);
    if (s == nullptr) // not UTF-8: take the bytes as Latin-1 rather than fail
        s = CFStringCreateWithCString(nullptr, cStr, kCFStringEncodingISOLatin1);
    const_cast<__CFString*>(s)->base.refCount.store(kImmortal);
    cache->emplace(cStr, s);
    return s;
}

// ---------------------------------------------------------------------------------------
// Access
// ---------------------------------------------------------------------------------------

CFIndex CFStringGetLength(CFStringRef theString) {
    return isString(theString) ? theString->length : 0;
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) {
    if (!isString(theString) || idx < 0 || idx >= theString->length)
        return 0;
    return theString->chars[idx];
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
    if (!isString(theString) || buffer == nullptr || !validRange(range, theString->length))
        return;
    copyUnits(buffer, theString->chars + range.location, static_cast<size_t>(range.length));
}

const UniChar* CFStringGetCharactersPtr(CFStringRef theString) {
    if (!isString(theString))
        return nullptr;
    static const UniChar kEmpty[1] = {0};
    return theString->chars ? theString->chars : kEmpty;
}

const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) {
    if (!isString(theString) || theString->bytes == nullptr || (theString->flags & kStrMutable))
        return nullptr;
    if (theString->bytesEncoding == encoding)
        return theString->bytes;
    // Bytes that are all ASCII read the same in every ASCII-compatible encoding.
    if (isAsciiCompatible(encoding) && isAsciiCompatible(theString->bytesEncoding)) {
        for (const char* p = theString->bytes; *p; ++p)
            if (static_cast<unsigned char>(*p) >= 0x80)
                return nullptr;
        return theString->bytes;
    }
    return nullptr;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    if (buffer == nullptr || bufferSize <= 0)
        return false;
    if (!isString(theString)) {
        buffer[0] = 0;
        return false;
    }
    CFIndex used = 0;
    CFIndex done = encodeUnits(theString->chars, theString->length, encoding, 0, false,
                               reinterpret_cast<UInt8*>(buffer), bufferSize - 1, &used);
    if (done != theString->length) {
        buffer[0] = 0;
        return false;
    }
    buffer[used] = 0;
    return true;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen) {
    CFIndex used = 0;
    CFIndex done = 0;
    if (isString(theString) && validRange(range, theString->length))
        done = encodeUnits(theString->chars + range.location, range.length, encoding, lossByte,
                           isExternalRepresentation, buffer, buffer ? maxBufLen : 0, &used);
    if (usedBufLen != nullptr)
        *usedBufLen = used;
    return done;
}

Boolean CFStringGetFileSystemRepresentation(CFStringRef string, char* buffer, CFIndex maxBufLen) {
    return CFStringGetCString(string, buffer, maxBufLen, kCFStringEncodingUTF8);
}

CFStringRef CFStringCreateWithFileSystemRepresentation(CFAllocatorRef alloc, const char* buffer) {
    return CFStringCreateWithCString(alloc, buffer, kCFStringEncodingUTF8);
}

CFIndex CFStringGetMaximumSizeOfFileSystemRepresentation(CFStringRef string) {
    return CFStringGetLength(string) * 3 + 1;
}

// ---------------------------------------------------------------------------------------
// Mutable strings
// ---------------------------------------------------------------------------------------

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex maxLength) {
    return newMutableString(maxLength);
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex maxLength,
                                             CFStringRef theString) {
    __CFString* s = newMutableString(maxLength);
    if (isString(theString) && theString->length > 0 &&
        !replaceUnits(s, CFRangeMake(0, 0), theString->chars, theString->length)) {
        CFRelease(s);
        return nullptr;
    }
    return s;
}

void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar* chars,
                              CFIndex numChars) {
    __CFString* s = mut(theString);
    if (s == nullptr || numChars <= 0 || chars == nullptr)
        return;
    // Units that fit the room left go straight onto the end (copyUnits allows the source to
    // be the string's own units: nothing moves before they are read).
    CFIndex newLen = s->length + numChars;
    if (newLen <= s->capacity && (s->maxLength <= 0 || newLen <= s->maxLength)) {
        copyUnits(s->chars + s->length, chars, static_cast<size_t>(numChars));
        s->length = newLen;
        s->chars[newLen] = 0;
        return;
    }
    replaceUnits(s, CFRangeMake(s->length, 0), chars, numChars);
}

void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) {
    if (isString(appendedString))
        CFStringAppendCharacters(theString, appendedString->chars, appendedString->length);
}

void CFStringAppendCString(CFMutableStringRef theString, const char* cStr,
                           CFStringEncoding encoding) {
    if (mut(theString) == nullptr || cStr == nullptr || *cStr == 0)
        return;
    CFStringRef t = CFStringCreateWithCString(nullptr, cStr, encoding);
    if (t != nullptr) {
        CFStringAppend(theString, t);
        CFRelease(t);
    }
}

void CFStringInsert(CFMutableStringRef str, CFIndex idx, CFStringRef insertedStr) {
    if (__CFString* s = mut(str); s && isString(insertedStr) && idx >= 0 && idx <= s->length)
        replaceUnits(s, CFRangeMake(idx, 0), insertedStr->chars, insertedStr->length);
}

void CFStringDelete(CFMutableStringRef theString, CFRange range) {
    if (__CFString* s = mut(theString))
        replaceUnits(s, range, nullptr, 0);
}

void CFStringReplace(CFMutableStringRef theString, CFRange range, CFStringRef replacement) {
    if (__CFString* s = mut(theString))
        replaceUnits(s, range, chars(replacement), length(replacement));
}

void CFStringReplaceAll(CFMutableStringRef theString, CFStringRef replacement) {
    if (__CFString* s = mut(theString))
        replaceUnits(s, CFRangeMake(0, s->length), chars(replacement), length(replacement));
}

void CFStringSetValue(CFMutableStringRef theString, CFStringRef newValue) {
    CFStringReplaceAll(theString, newValue);
}

namespace {

// Full case mapping with the root locale; the result may be longer or shorter.
void mapCase(CFMutableStringRef theString, bool upper) {
    __CFString* s = mut(theString);
    if (s == nullptr || s->length == 0)
        return;
    // Pure ASCII maps unit for unit.
    bool ascii = true;
    for (CFIndex i = 0; i < s->length && ascii; ++i)
        ascii = s->chars[i] < 0x80;
    if (ascii) {
        for (CFIndex i = 0; i < s->length; ++i) {
            UniChar c = s->chars[i];
            if (upper && c >= 'a' && c <= 'z')
                s->chars[i] = c - 32;
            else if (!upper && c >= 'A' && c <= 'Z')
                s->chars[i] = c + 32;
        }
        return;
    }
    std::vector<UniChar> out(static_cast<size_t>(s->length) * 3 + 4);
    UErrorCode err = U_ZERO_ERROR;
    auto* src = reinterpret_cast<const UChar*>(s->chars);
    auto* dst = reinterpret_cast<UChar*>(out.data());
    int32_t cap = static_cast<int32_t>(out.size());
    int32_t srcLen = static_cast<int32_t>(s->length);
    int32_t n = upper ? u_strToUpper(dst, cap, src, srcLen, "", &err)
                      : u_strToLower(dst, cap, src, srcLen, "", &err);
    if (U_FAILURE(err))
        return;
    replaceUnits(s, CFRangeMake(0, s->length), out.data(), n);
}

} // namespace

void CFStringUppercase(CFMutableStringRef theString, const void*) {
    mapCase(theString, true);
}
void CFStringLowercase(CFMutableStringRef theString, const void*) {
    mapCase(theString, false);
}

void CFStringTrimWhitespace(CFMutableStringRef theString) {
    __CFString* s = mut(theString);
    if (s == nullptr)
        return;
    CFIndex b = 0, e = s->length;
    while (b < e && u_isUWhiteSpace(s->chars[b]))
        ++b;
    while (e > b && u_isUWhiteSpace(s->chars[e - 1]))
        --e;
    replaceUnits(s, CFRangeMake(e, s->length - e), nullptr, 0);
    replaceUnits(s, CFRangeMake(0, b), nullptr, 0);
}

void CFStringPad(CFMutableStringRef theString, CFStringRef padString, CFIndex len,
                 CFIndex indexIntoPad) {
    __CFString* s = mut(theString);
    if (s == nullptr || len < 0)
        return;
    if (len <= s->length) {
        replaceUnits(s, CFRangeMake(len, s->length - len), nullptr, 0);
        return;
    }
    CFIndex padLen = length(padString);
    if (padLen == 0 || indexIntoPad < 0 || indexIntoPad >= padLen)
        return;
    while (s->length < len) {
        if (!replaceUnits(s, CFRangeMake(s->length, 0), padString->chars + indexIntoPad, 1))
            return;
        indexIntoPad = (indexIntoPad + 1) % padLen;
    }
}
