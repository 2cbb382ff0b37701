// CFArray, the callbacks containers' creators give, and the string calls that produce
// arrays. An array is a contiguous block of values.
#include "platform/CFRef.h"
#include "platform/cf/CFCollectionsInternal.h"
#include "platform/cf/CFInternal.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace orvik::cf;

namespace {

// Retaining for CF objects: a string that refers to its caller's units is copied, so a
// container never depends on memory it does not own.
const void* typeRetain(CFAllocatorRef, const void* value) {
    if (isString(value) && (static_cast<CFStringRef>(value)->flags & kStrExternal))
        return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(value));
    return CFRetain(value);
}

void typeRelease(CFAllocatorRef, const void* value) {
    CFRelease(value);
}

// String keys enter as immutable copies (a mutable key changed later would corrupt the
// table); other keys are retained.
const void* copyStringRetain(CFAllocatorRef, const void* value) {
    if (isString(value))
        return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(value));
    return CFRetain(value);
}

} // namespace

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, typeRetain, typeRelease, CFCopyDescription,
                                                CFEqual};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, typeRetain, typeRelease, CFCopyDescription, CFEqual, CFHash};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {
    0, copyStringRetain, typeRelease, CFCopyDescription, CFEqual, CFHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, typeRetain, typeRelease,
                                                                    CFCopyDescription, CFEqual};

std::u16string orvik::cf::describe(const void* v, CFStringRef (*desc)(const void*)) {
    orvik::CFRef<CFStringRef> d(desc != nullptr ? desc(v) : nullptr);
    if (!d) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "<%p>", v);
        d.reset(CFStringCreateWithCString(nullptr, buf, kCFStringEncodingASCII));
    }
    std::u16string out(reinterpret_cast<const char16_t*>(d.get()->chars),
                       static_cast<size_t>(d.get()->length));
    return out;
}

CFStringRef orvik::cf::stringOf(const std::u16string& s) {
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(s.data()),
                                        static_cast<CFIndex>(s.size()));
}

// ---------------------------------------------------------------------------------------
// Arrays
// ---------------------------------------------------------------------------------------

struct __CFArray {
    CFRuntimeBase base;
    const void** items;
    CFIndex count;
    CFIndex capacity;
    CFIndex maxCount; // mutable: 0 unlimited
    CFArrayCallBacks cb;
    bool isMutable;
};

namespace {

const void* retainValue(const __CFArray* a, const void* v) {
    return a->cb.retain ? a->cb.retain(nullptr, v) : v;
}
void releaseValue(const __CFArray* a, const void* v) {
    if (a->cb.release)
        a->cb.release(nullptr, v);
}
bool valuesEqual(const __CFArray* a, const void* x, const void* y) {
    return x == y || (a->cb.equal != nullptr && a->cb.equal(x, y));
}

void finalizeArray(CFTypeRef cf) {
    auto* a = static_cast<const __CFArray*>(cf);
    for (CFIndex i = 0; i < a->count; ++i)
        releaseValue(a, a->items[i]);
    std::free(a->items);
}

Boolean equalArrays(CFTypeRef x, CFTypeRef y) {
    auto* a = static_cast<CFArrayRef>(x);
    auto* b = static_cast<CFArrayRef>(y);
    if (a->count != b->count)
        return false;
    for (CFIndex i = 0; i < a->count; ++i)
        if (!valuesEqual(a, a->items[i], b->items[i]))
            return false;
    return true;
}

CFHashCode hashArray(CFTypeRef cf) {
    return static_cast<CFHashCode>(static_cast<CFArrayRef>(cf)->count);
}

CFStringRef describeArray(CFTypeRef cf) {
    auto* a = static_cast<CFArrayRef>(cf);
    std::u16string s = u"(";
    for (CFIndex i = 0; i < a->count; ++i) {
        if (i > 0)
            s += u", ";
        s += describe(a->items[i], a->cb.copyDescription);
    }
    s += u")";
    return stringOf(s);
}

__CFArray* newArray(const CFArrayCallBacks* cb, bool isMutable, CFIndex maxCount) {
    auto* a = static_cast<__CFArray*>(allocObject(kArrayTypeID, sizeof(__CFArray)));
    if (cb != nullptr)
        a->cb = *cb;
    a->isMutable = isMutable;
    a->maxCount = maxCount > 0 ? maxCount : 0;
    return a;
}

bool reserveArray(__CFArray* a, CFIndex needed) {
    if (a->maxCount > 0 && needed > a->maxCount)
        return false;
    if (needed <= a->capacity)
        return true;
    CFIndex cap = std::max<CFIndex>({needed, a->capacity * 2, 8});
    auto* p =
        static_cast<const void**>(std::realloc(a->items, sizeof(void*) * static_cast<size_t>(cap)));
    if (p == nullptr)
        throw std::bad_alloc();
    a->items = p;
    a->capacity = cap;
    return true;
}

__CFArray* mutArray(CFMutableArrayRef a) {
    return (isType(a, kArrayTypeID) && a->isMutable) ? a : nullptr;
}

bool isArray(CFArrayRef a) {
    return isType(a, kArrayTypeID);
}

} // namespace

const CFRuntimeClass orvik::cf::kArrayClass = {"CFArray", finalizeArray, equalArrays, hashArray,
                                               describeArray};

CFTypeID CFArrayGetTypeID(void) {
    return kArrayTypeID;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
    if (numValues < 0 || (numValues > 0 && values == nullptr))
        return nullptr;
    __CFArray* a = newArray(callBacks, false, 0);
    reserveArray(a, numValues);
    for (CFIndex i = 0; i < numValues; ++i)
        a->items[a->count++] = retainValue(a, values[i]);
    return a;
}

CFArrayRef CFArrayCreateCopy(CFAllocatorRef alloc, CFArrayRef theArray) {
    if (!isArray(theArray))
        return nullptr;
    return CFArrayCreate(alloc, theArray->items, theArray->count, &theArray->cb);
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity,
                                       const CFArrayCallBacks* callBacks) {
    return newArray(callBacks, true, capacity);
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex capacity, CFArrayRef theArray) {
    __CFArray* a = newArray(isArray(theArray) ? &theArray->cb : nullptr, true, capacity);
    if (isArray(theArray)) {
        if (!reserveArray(a, theArray->count)) {
            CFRelease(a);
            return nullptr;
        }
        for (CFIndex i = 0; i < theArray->count; ++i)
            a->items[a->count++] = retainValue(a, theArray->items[i]);
    }
    return a;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    return isArray(theArray) ? theArray->count : 0;
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    if (!isArray(theArray) || idx < 0 || idx >= theArray->count)
        return nullptr;
    return theArray->items[idx];
}

void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void** values) {
    if (!isArray(theArray) || values == nullptr || !validRange(range, theArray->count))
        return;
    std::copy(theArray->items + range.location, theArray->items + range.location + range.length,
              values);
}

CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void* value) {
    if (!isArray(theArray) || !validRange(range, theArray->count))
        return kCFNotFound;
    for (CFIndex i = range.location; i < range.location + range.length; ++i)
        if (valuesEqual(theArray, theArray->items[i], value))
            return i;
    return kCFNotFound;
}

CFIndex CFArrayGetCountOfValue(CFArrayRef theArray, CFRange range, const void* value) {
    if (!isArray(theArray) || !validRange(range, theArray->count))
        return 0;
    CFIndex n = 0;
    for (CFIndex i = range.location; i < range.location + range.length; ++i)
        n += valuesEqual(theArray, theArray->items[i], value) ? 1 : 0;
    return n;
}

Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void* value) {
    return CFArrayGetFirstIndexOfValue(theArray, range, value) != kCFNotFound;
}

void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                          void* context) {
    if (!isArray(theArray) || applier == nullptr || !validRange(range, theArray->count))
        return;
    for (CFIndex i = range.location; i < range.location + range.length; ++i)
        applier(theArray->items[i], context);
}

void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value) {
    __CFArray* a = mutArray(theArray);
    if (a == nullptr || idx < 0 || idx > a->count || !reserveArray(a, a->count + 1))
        return;
    std::move_backward(a->items + idx, a->items + a->count, a->items + a->count + 1);
    a->items[idx] = retainValue(a, value);
    ++a->count;
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value) {
    if (__CFArray* a = mutArray(theArray))
        CFArrayInsertValueAtIndex(a, a->count, value);
}

void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value) {
    __CFArray* a = mutArray(theArray);
    if (a == nullptr || idx < 0 || idx > a->count)
        return;
    if (idx == a->count) {
        CFArrayInsertValueAtIndex(a, idx, value);
        return;
    }
    const void* v = retainValue(a, value);
    releaseValue(a, a->items[idx]);
    a->items[idx] = v;
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) {
    __CFArray* a = mutArray(theArray);
    if (a == nullptr || idx < 0 || idx >= a->count)
        return;
    const void* v = a->items[idx];
    std::move(a->items + idx + 1, a->items + a->count, a->items + idx);
    --a->count;
    releaseValue(a, v);
}

void CFArrayRemoveAllValues(CFMutableArrayRef theArray) {
    __CFArray* a = mutArray(theArray);
    if (a == nullptr)
        return;
    CFIndex n = a->count;
    a->count = 0;
    for (CFIndex i = 0; i < n; ++i)
        releaseValue(a, a->items[i]);
}

void CFArrayAppendArray(CFMutableArrayRef theArray, CFArrayRef otherArray, CFRange otherRange) {
    __CFArray* a = mutArray(theArray);
    if (a == nullptr || !isArray(otherArray) || !validRange(otherRange, otherArray->count))
        return;
    // Copy the values first: otherArray may be theArray itself.
    std::vector<const void*> values(otherArray->items + otherRange.location,
                                    otherArray->items + otherRange.location + otherRange.length);
    for (const void* v : values)
        CFArrayAppendValue(a, v);
}

void CFArraySortValues(CFMutableArrayRef theArray, CFRange range, CFComparatorFunction comparator,
                       void* context) {
    __CFArray* a = mutArray(theArray);
    if (a == nullptr || comparator == nullptr || !validRange(range, a->count))
        return;
    std::stable_sort(a->items + range.location, a->items + range.location + range.length,
                     [&](const void* x, const void* y) { return comparator(x, y, context) < 0; });
}

// ---------------------------------------------------------------------------------------
// String calls that build or read arrays
// ---------------------------------------------------------------------------------------

CFStringRef CFStringCreateByCombiningStrings(CFAllocatorRef, CFArrayRef theArray,
                                             CFStringRef separatorString) {
    CFIndex count = CFArrayGetCount(theArray);
    CFIndex sepLen = length(separatorString);
    CFIndex total = 0;
    for (CFIndex i = 0; i < count; ++i) {
        auto v = static_cast<CFStringRef>(CFArrayGetValueAtIndex(theArray, i));
        total += (isString(v) ? v->length : 0) + (i > 0 ? sepLen : 0);
    }
    __CFString* s = newString(total);
    UniChar* out = s->chars;
    for (CFIndex i = 0; i < count; ++i) {
        auto v = static_cast<CFStringRef>(CFArrayGetValueAtIndex(theArray, i));
        if (i > 0 && sepLen > 0) {
            std::memcpy(out, separatorString->chars, sizeof(UniChar) * static_cast<size_t>(sepLen));
            out += sepLen;
        }
        if (isString(v) && v->length > 0) {
            std::memcpy(out, v->chars, sizeof(UniChar) * static_cast<size_t>(v->length));
            out += v->length;
        }
    }
    return s;
}

CFArrayRef CFStringCreateArrayBySeparatingStrings(CFAllocatorRef alloc, CFStringRef theString,
                                                  CFStringRef separatorString) {
    if (!isString(theString) || !isString(separatorString) || separatorString->length == 0)
        return nullptr;
    CFMutableArrayRef parts = CFArrayCreateMutable(alloc, 0, &kCFTypeArrayCallBacks);
    CFIndex pos = 0;
    CFRange hit;
    while (CFStringFindWithOptions(theString, separatorString,
                                   CFRangeMake(pos, theString->length - pos), 0, &hit)) {
        const orvik::CFRef<CFStringRef> part(
            CFStringCreateWithSubstring(alloc, theString, CFRangeMake(pos, hit.location - pos)));
        CFArrayAppendValue(parts, part.get());
        pos = hit.location + hit.length;
    }
    const orvik::CFRef<CFStringRef> last(
        CFStringCreateWithSubstring(alloc, theString, CFRangeMake(pos, theString->length - pos)));
    CFArrayAppendValue(parts, last.get());
    parts->isMutable = false;
    return parts;
}

CFArrayRef CFStringCreateArrayWithFindResults(CFAllocatorRef alloc, CFStringRef theString,
                                              CFStringRef stringToFind, CFRange rangeToSearch,
                                              CFStringCompareFlags compareOptions) {
    if (!isString(theString) || !validRange(rangeToSearch, theString->length))
        return nullptr;
    CFMutableArrayRef found = CFArrayCreateMutable(alloc, 0, &kCFTypeArrayCallBacks);
    bool backwards = compareOptions & kCFCompareBackwards;
    CFRange rest = rangeToSearch, hit;
    while (rest.length > 0 &&
           CFStringFindWithOptions(theString, stringToFind, rest, compareOptions, &hit)) {
        const orvik::CFRef<CFDataRef> d(
            CFDataCreate(alloc, reinterpret_cast<const UInt8*>(&hit), sizeof hit));
        CFArrayAppendValue(found, d.get());
        if (compareOptions & kCFCompareAnchored)
            break;
        if (backwards) {
            rest.length = hit.location - rest.location;
        } else {
            CFIndex end = hit.location + hit.length;
            rest.length -= end - rest.location;
            rest.location = end;
        }
    }
    if (CFArrayGetCount(found) == 0) {
        CFRelease(found);
        return nullptr;
    }
    found->isMutable = false;
    return found;
}
