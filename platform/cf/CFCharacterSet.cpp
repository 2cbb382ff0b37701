// Character sets: a bitmap for the first 256 code points, a sorted list for the rest,
// or a Unicode property for the predefined sets.
#include "platform/cf/CFInternal.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

using namespace orvik::cf;

struct __CFCharacterSet {
    CFRuntimeBase base;
    uint64_t low[4];
    UTF32Char* others; // sorted, unique
    CFIndex otherCount;
    UTF32Char rangeFirst, rangeLast; // a range set when rangeLast >= rangeFirst > 0
    bool isRange;
    CFCharacterSetPredefinedSet predefined;
};

namespace {

void finalizeCharSet(CFTypeRef cf) {
    std::free(static_cast<const __CFCharacterSet*>(cf)->others);
}

__CFCharacterSet* newCharSet() {
    return static_cast<__CFCharacterSet*>(
        allocObject(kCharacterSetTypeID, sizeof(__CFCharacterSet)));
}

bool predefinedContains(CFCharacterSetPredefinedSet which, UTF32Char c) {
    UChar32 cp = static_cast<UChar32>(c);
    switch (which) {
    case kCFCharacterSetControl:
        return u_charType(cp) == U_CONTROL_CHAR || u_charType(cp) == U_FORMAT_CHAR;
    case kCFCharacterSetWhitespace:
        return cp == 0x09 || u_charType(cp) == U_SPACE_SEPARATOR;
    case kCFCharacterSetWhitespaceAndNewline:
        return u_isUWhiteSpace(cp) || cp == 0x85;
    case kCFCharacterSetDecimalDigit:
        return u_charType(cp) == U_DECIMAL_DIGIT_NUMBER;
    case kCFCharacterSetLetter:
        return u_isalpha(cp) || u_charType(cp) == U_NON_SPACING_MARK ||
               u_charType(cp) == U_COMBINING_SPACING_MARK;
    case kCFCharacterSetLowercaseLetter:
        return u_charType(cp) == U_LOWERCASE_LETTER;
    case kCFCharacterSetUppercaseLetter:
        return u_charType(cp) == U_UPPERCASE_LETTER || u_charType(cp) == U_TITLECASE_LETTER;
    case kCFCharacterSetAlphaNumeric:
        return u_isalnum(cp) || u_charType(cp) == U_NON_SPACING_MARK ||
               u_charType(cp) == U_COMBINING_SPACING_MARK;
    case kCFCharacterSetPunctuation:
        return u_ispunct(cp);
    default:
        return false;
    }
}

} // namespace

const CFRuntimeClass orvik::cf::kCharacterSetClass = {"CFCharacterSet", finalizeCharSet, nullptr,
                                                      nullptr, nullptr};

CFTypeID CFCharacterSetGetTypeID(void) {
    return kCharacterSetTypeID;
}

bool orvik::cf::charSetContains(CFCharacterSetRef set, UTF32Char c) {
    if (set->predefined != 0)
        return predefinedContains(set->predefined, c);
    if (set->isRange)
        return c >= set->rangeFirst && c <= set->rangeLast;
    if (c < 256)
        return (set->low[c >> 6] >> (c & 63)) & 1;
    return std::binary_search(set->others, set->others + set->otherCount, c);
}

CFCharacterSetRef CFCharacterSetCreateWithCharactersInString(CFAllocatorRef,
                                                             CFStringRef theString) {
    if (!isString(theString))
        return nullptr;
    __CFCharacterSet* set = newCharSet();
    std::vector<UTF32Char> others;
    const UniChar* p = theString->chars;
    CFIndex n = theString->length;
    for (CFIndex i = 0; i < n; ++i) {
        UTF32Char c = p[i];
        if (U16_IS_LEAD(c) && i + 1 < n && U16_IS_TRAIL(p[i + 1]))
            c = U16_GET_SUPPLEMENTARY(c, p[++i]);
        if (c < 256)
            set->low[c >> 6] |= uint64_t(1) << (c & 63);
        else
            others.push_back(c);
    }
    if (!others.empty()) {
        std::sort(others.begin(), others.end());
        others.erase(std::unique(others.begin(), others.end()), others.end());
        set->others = static_cast<UTF32Char*>(std::malloc(others.size() * sizeof(UTF32Char)));
        if (set->others == nullptr) {
            CFRelease(set);
            throw std::bad_alloc();
        }
        std::copy(others.begin(), others.end(), set->others);
        set->otherCount = static_cast<CFIndex>(others.size());
    }
    return set;
}

CFCharacterSetRef CFCharacterSetCreateWithCharactersInRange(CFAllocatorRef, CFRange theRange) {
    if (theRange.location < 0 || theRange.length < 0 ||
        theRange.location + theRange.length > 0x110000)
        return nullptr;
    __CFCharacterSet* set = newCharSet();
    set->isRange = true;
    set->rangeFirst = static_cast<UTF32Char>(theRange.location);
    set->rangeLast = static_cast<UTF32Char>(theRange.location + theRange.length - 1);
    if (theRange.length == 0) { // empty: first > last
        set->rangeFirst = 1;
        set->rangeLast = 0;
    }
    return set;
}

CFCharacterSetRef CFCharacterSetGetPredefined(CFCharacterSetPredefinedSet which) {
    static __CFCharacterSet sets[12];
    static std::once_flag once;
    if (which < 1 || which > 11 || which == 8 || which == 9)
        return nullptr;
    std::call_once(once, [] {
        for (int i = 0; i < 12; ++i) {
            sets[i].base.typeID = kCharacterSetTypeID;
            sets[i].base.refCount.store(kImmortal);
            sets[i].predefined = i;
        }
    });
    return &sets[which];
}

Boolean CFCharacterSetIsCharacterMember(CFCharacterSetRef theSet, UniChar theChar) {
    return isType(theSet, kCharacterSetTypeID) && charSetContains(theSet, theChar);
}

Boolean CFCharacterSetIsLongCharacterMember(CFCharacterSetRef theSet, UTF32Char theChar) {
    return isType(theSet, kCharacterSetTypeID) && charSetContains(theSet, theChar);
}
