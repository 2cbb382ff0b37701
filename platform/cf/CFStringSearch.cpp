// CFString comparison and searching. The common cases (literal, case-sensitive) run
// directly over the units without allocating; case-insensitive work streams full case
// folding through a small buffer (FoldIter), so it allocates nothing either.
#include "platform/cf/CFInternal.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

using namespace orvik::cf;

using View = std::u16string_view;

int orvik::cf::FoldIter::slowNext() {
    UChar32 cp = *p++;
    UChar src[2] = {static_cast<UChar>(cp), 0};
    int32_t srcLen = 1;
    if (U16_IS_LEAD(cp) && p < end && U16_IS_TRAIL(*p)) {
        src[1] = *p++;
        srcLen = 2;
    }
    UErrorCode err = U_ZERO_ERROR;
    int32_t n =
        u_strFoldCase(reinterpret_cast<UChar*>(buf), 8, src, srcLen, U_FOLD_CASE_DEFAULT, &err);
    if (U_FAILURE(err) || n <= 0) {
        buf[0] = src[0];
        buf[1] = src[1];
        n = srcLen;
    }
    bufLen = n;
    bufPos = 1;
    return buf[0];
}

namespace {

View viewOf(CFStringRef s, CFRange r) {
    return View(s->chars + r.location, static_cast<size_t>(r.length));
}

CFComparisonResult sign(int v) {
    return v < 0 ? kCFCompareLessThan : (v > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo);
}

// Units of a string, optionally case folded.
struct UnitSource {
    FoldIter it;
    bool fold;
    UnitSource(const UniChar* b, const UniChar* e, bool f) : it(b, e), fold(f) {}
    int next() {
        if (fold)
            return it.next();
        return it.p == it.end ? -1 : *it.p++;
    }
    // Peeks at raw units (digit runs are ASCII, unaffected by folding).
    bool atDigit() const {
        return it.atBoundary() && it.p < it.end && *it.p >= '0' && *it.p <= '9';
    }
};

bool isDigit(UniChar c) {
    return c >= '0' && c <= '9';
}

// Compares the digit runs at a and b by value: leading zeros skipped, then the longer
// run is larger, then digit by digit.
int compareDigitRuns(UnitSource& a, UnitSource& b) {
    auto run = [](UnitSource& s, const UniChar*& begin) {
        const UniChar* p = s.it.p;
        while (p < s.it.end && *p == '0')
            ++p;
        begin = p;
        while (p < s.it.end && isDigit(*p))
            ++p;
        const UniChar* stop = p;
        s.it.p = stop;
        return stop - begin;
    };
    const UniChar *ba, *bb;
    auto la = run(a, ba), lb = run(b, bb);
    if (la != lb)
        return la < lb ? -1 : 1;
    for (decltype(la) i = 0; i < la; ++i)
        if (ba[i] != bb[i])
            return ba[i] < bb[i] ? -1 : 1;
    return 0;
}

CFComparisonResult compareSlow(View a, View b, CFStringCompareFlags flags) {
    bool fold = flags & kCFCompareCaseInsensitive;
    bool numeric = flags & kCFCompareNumerically;
    UnitSource x(a.data(), a.data() + a.size(), fold), y(b.data(), b.data() + b.size(), fold);
    for (;;) {
        if (numeric && x.atDigit() && y.atDigit()) {
            if (int c = compareDigitRuns(x, y))
                return c;
            continue;
        }
        int c1 = x.next(), c2 = y.next();
        if (c1 != c2)
            return c1 < c2 ? kCFCompareLessThan : kCFCompareGreaterThan;
        if (c1 < 0)
            return kCFCompareEqualTo;
    }
}

inline UniChar asciiLower(UniChar c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

CFComparisonResult compareViews(View a, View b, CFStringCompareFlags flags) {
    if ((flags & (kCFCompareCaseInsensitive | kCFCompareNumerically)) == 0)
        return sign(a.compare(b));
    if (flags == kCFCompareCaseInsensitive) {
        // ASCII folds unit for unit: compare that prefix directly, then let the folding
        // iterators take over at the first non-ASCII unit (a character boundary).
        size_t n = std::min(a.size(), b.size()), i = 0;
        for (; i < n; ++i) {
            UniChar x = a[i], y = b[i];
            if ((x | y) >= 0x80)
                break;
            if (x != y) {
                x = asciiLower(x), y = asciiLower(y);
                if (x != y)
                    return x < y ? kCFCompareLessThan : kCFCompareGreaterThan;
            }
        }
        if (i == n && a.size() == b.size())
            return kCFCompareEqualTo;
        return compareSlow(a.substr(i), b.substr(i), flags);
    }
    return compareSlow(a, b, flags);
}

// Case-insensitive match of needle at hay[pos...end): the end of the match or -1.
CFIndex foldMatchAt(const UniChar* hay, CFIndex pos, CFIndex end, View needle) {
    FoldIter h(hay + pos, hay + end);
    FoldIter n(needle.data(), needle.data() + needle.size());
    for (;;) {
        int c = n.next();
        if (c < 0)
            return h.atBoundary() ? h.p - hay : -1;
        if (h.next() != c)
            return -1;
    }
}

// The first occurrence of needle in h, literal, or View::npos. Candidates are the positions
// of the needle's first unit, found eight units at a time; most searches are short (a
// directive in a format, a separator in a path), where this beats the general search.
size_t findLiteral(View h, View needle) {
    size_t n = h.size(), m = needle.size();
    if (m > n)
        return View::npos;
    const UniChar* hay = h.data();
    const UniChar* rest = needle.data() + 1;
    size_t starts = n - m + 1; // possible start positions
    UniChar first = needle[0];
    auto matchesAt = [&](size_t k) {
        for (size_t j = 0; j + 1 < m; ++j)
            if (hay[k + 1 + j] != rest[j])
                return false;
        return true;
    };
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi16(static_cast<short>(first));
    for (; i + 8 <= starts; i += 8) {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, want)));
        while (mask != 0) {
            size_t k = i + static_cast<size_t>(__builtin_ctz(mask)) / 2;
            if (matchesAt(k))
                return k;
            mask &= mask - 1; // both bytes of the unit
            mask &= mask - 1;
        }
    }
#endif
    for (; i < starts; ++i)
        if (hay[i] == first && matchesAt(i))
            return i;
    return View::npos;
}

bool findIn(CFStringRef str, View needle, CFRange range, CFStringCompareFlags opts,
            CFRange* result) {
    if (needle.empty() || range.length == 0)
        return false;
    const UniChar* hay = str->chars;
    CFIndex lo = range.location, hi = range.location + range.length;
    bool backwards = opts & kCFCompareBackwards;
    bool anchored = opts & kCFCompareAnchored;
    CFIndex m = static_cast<CFIndex>(needle.size());

    if (!(opts & kCFCompareCaseInsensitive)) {
        if (m > range.length)
            return false;
        View h = viewOf(str, range);
        size_t at;
        if (anchored)
            at = backwards
                     ? (h.substr(h.size() - needle.size()) == needle ? h.size() - needle.size()
                                                                     : View::npos)
                     : (h.substr(0, needle.size()) == needle ? 0 : View::npos);
        else
            at = backwards ? h.rfind(needle) : findLiteral(h, needle);
        if (at == View::npos)
            return false;
        if (result)
            *result = CFRangeMake(lo + static_cast<CFIndex>(at), m);
        return true;
    }

    // Case-insensitive: folded lengths may differ, so try each start position.
    if (!backwards) {
        for (CFIndex pos = lo; pos < hi; ++pos) {
            CFIndex end = foldMatchAt(hay, pos, hi, needle);
            if (end >= 0) {
                if (result)
                    *result = CFRangeMake(pos, end - pos);
                return true;
            }
            if (anchored)
                break;
        }
        return false;
    }
    for (CFIndex pos = hi - 1; pos >= lo; --pos) {
        CFIndex end = foldMatchAt(hay, pos, hi, needle);
        if (end >= 0 && (!anchored || end == hi)) {
            if (result)
                *result = CFRangeMake(pos, end - pos);
            return true;
        }
    }
    return false;
}

// The matches of a replacement, the first few without allocating. Their ranges are kept as
// separate integers: copying whole CFRange records reads back as one wide load what was just
// stored as two halves, which stalls on every call.
struct Hits {
    CFRange inlineHits[16];
    std::vector<CFRange> moreHits;
    CFIndex count = 0;
    CFIndex replacementLength;
    bool sameLength = true; // every match as long as the replacement
    explicit Hits(CFIndex replLen) : replacementLength(replLen) {}
    __attribute__((always_inline)) void add(CFIndex loc, CFIndex len) {
        CFRange& slot = count < 16 ? inlineHits[count] : moreHits.emplace_back();
        slot.location = loc;
        slot.length = len;
        ++count;
        sameLength = sameLength && len == replacementLength;
    }
    CFRange& at(CFIndex k) {
        return k < 16 ? inlineHits[k] : moreHits[static_cast<size_t>(k - 16)];
    }
};

} // namespace

CFComparisonResult CFStringCompareWithOptions(CFStringRef theString1, CFStringRef theString2,
                                              CFRange rangeToCompare,
                                              CFStringCompareFlags compareOptions) {
    CFIndex len1 = isString(theString1) ? theString1->length : 0;
    if (!validRange(rangeToCompare, len1))
        return kCFCompareEqualTo;
    View a = len1 ? viewOf(theString1, rangeToCompare) : View();
    View b = isString(theString2) && theString2->length
                 ? viewOf(theString2, CFRangeMake(0, theString2->length))
                 : View();
    return compareViews(a, b, compareOptions);
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) {
    return CFStringCompareWithOptions(
        theString1, theString2, CFRangeMake(0, CFStringGetLength(theString1)), compareOptions);
}

Boolean CFStringFindWithOptions(CFStringRef theString, CFStringRef stringToFind,
                                CFRange rangeToSearch, CFStringCompareFlags searchOptions,
                                CFRange* result) {
    if (!isString(theString) || !isString(stringToFind) ||
        !validRange(rangeToSearch, theString->length))
        return false;
    return findIn(theString, viewOf(stringToFind, CFRangeMake(0, stringToFind->length)),
                  rangeToSearch, searchOptions, result);
}

CFRange CFStringFind(CFStringRef theString, CFStringRef stringToFind,
                     CFStringCompareFlags compareOptions) {
    CFRange r;
    if (CFStringFindWithOptions(theString, stringToFind,
                                CFRangeMake(0, CFStringGetLength(theString)), compareOptions, &r))
        return r;
    return CFRangeMake(kCFNotFound, 0);
}

Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) {
    return CFStringFindWithOptions(theString, prefix, CFRangeMake(0, CFStringGetLength(theString)),
                                   kCFCompareAnchored, nullptr);
}

Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) {
    return CFStringFindWithOptions(theString, suffix, CFRangeMake(0, CFStringGetLength(theString)),
                                   kCFCompareAnchored | kCFCompareBackwards, nullptr);
}

Boolean CFStringFindCharacterFromSet(CFStringRef theString, CFCharacterSetRef theSet,
                                     CFRange rangeToSearch, CFStringCompareFlags searchOptions,
                                     CFRange* result) {
    if (!isString(theString) || !isType(theSet, kCharacterSetTypeID) ||
        !validRange(rangeToSearch, theString->length) || rangeToSearch.length == 0)
        return false;
    const UniChar* s = theString->chars;
    CFIndex lo = rangeToSearch.location, hi = lo + rangeToSearch.length;
    bool anchored = searchOptions & kCFCompareAnchored;
    // A character at [i, i + len): a surrogate pair inside the range counts as one.
    auto test = [&](CFIndex i, CFIndex len) {
        UTF32Char c = len == 2 ? U16_GET_SUPPLEMENTARY(s[i], s[i + 1]) : s[i];
        if (!charSetContains(theSet, c))
            return false;
        if (result)
            *result = CFRangeMake(i, len);
        return true;
    };
    if (!(searchOptions & kCFCompareBackwards)) {
        for (CFIndex i = lo; i < hi;) {
            CFIndex len = (U16_IS_LEAD(s[i]) && i + 1 < hi && U16_IS_TRAIL(s[i + 1])) ? 2 : 1;
            if (test(i, len))
                return true;
            if (anchored)
                return false;
            i += len;
        }
        return false;
    }
    for (CFIndex i = hi - 1; i >= lo;) {
        CFIndex start = (U16_IS_TRAIL(s[i]) && i - 1 >= lo && U16_IS_LEAD(s[i - 1])) ? i - 1 : i;
        if (test(start, i - start + 1))
            return true;
        if (anchored)
            return false;
        i = start - 1;
    }
    return false;
}

namespace {

// The general replacement: the matches collected first (the first few without allocating),
// then the text rebuilt once. Kept apart so that the usual in-place case does not pay for
// its frame.
__attribute__((noinline)) CFIndex replaceCollected(__CFString* theString, View needle, View repl,
                                                   CFRange rangeToSearch,
                                                   CFStringCompareFlags compareOptions) {
    bool backwards = compareOptions & kCFCompareBackwards;
    bool anchored = compareOptions & kCFCompareAnchored;
    bool literalForward =
        !(compareOptions & (kCFCompareCaseInsensitive | kCFCompareBackwards | kCFCompareAnchored));
    Hits hits(static_cast<CFIndex>(repl.size()));
    CFIndex restLoc = rangeToSearch.location, restLen = rangeToSearch.length;
    if (literalForward) { // scan the range directly
        CFIndex m = static_cast<CFIndex>(needle.size());
        while (restLen > 0) {
            size_t at =
                findLiteral(View(theString->chars + restLoc, static_cast<size_t>(restLen)), needle);
            if (at == View::npos)
                break;
            hits.add(restLoc + static_cast<CFIndex>(at), m);
            CFIndex end = restLoc + static_cast<CFIndex>(at) + m;
            restLen -= end - restLoc;
            restLoc = end;
        }
    } else {
        CFRange hit;
        while (restLen > 0 &&
               findIn(theString, needle, CFRangeMake(restLoc, restLen), compareOptions, &hit)) {
            CFIndex hitLoc = hit.location, hitLen = hit.length;
            hits.add(hitLoc, hitLen);
            if (anchored)
                break;
            if (backwards) {
                restLen = hitLoc - restLoc;
            } else {
                CFIndex end = hitLoc + hitLen;
                restLen -= end - restLoc;
                restLoc = end;
            }
        }
    }
    if (hits.count == 0)
        return 0;
    UniChar* s = theString->chars;
    if (hits.sameLength) { // every match as long as the replacement: overwrite in place
        for (CFIndex k = 0; k < hits.count; ++k)
            copyUnits(s + hits.at(k).location, repl.data(), repl.size());
        return hits.count;
    }
    if (backwards)
        for (CFIndex k = 0, j = hits.count - 1; k < j; ++k, --j)
            std::swap(hits.at(k), hits.at(j));
    CFIndex newLen = theString->length;
    for (CFIndex k = 0; k < hits.count; ++k)
        newLen += static_cast<CFIndex>(repl.size()) - hits.at(k).length;
    std::u16string out;
    out.reserve(static_cast<size_t>(newLen));
    CFIndex pos = 0;
    for (CFIndex k = 0; k < hits.count; ++k) {
        const CFRange& r = hits.at(k);
        out.append(s + pos, s + r.location);
        out.append(repl);
        pos = r.location + r.length;
    }
    out.append(s + pos, s + theString->length);
    if (!replaceUnits(theString, CFRangeMake(0, theString->length), out.data(), newLen))
        return 0; // over the string's maximum length: unchanged
    return hits.count;
}

} // namespace

CFIndex CFStringFindAndReplace(CFMutableStringRef theString, CFStringRef stringToFind,
                               CFStringRef replacementString, CFRange rangeToSearch,
                               CFStringCompareFlags compareOptions) {
    if (!isString(theString) || !(theString->flags & kStrMutable) || !isString(stringToFind) ||
        !validRange(rangeToSearch, theString->length) || stringToFind->length == 0)
        return 0;
    View needle = viewOf(stringToFind, CFRangeMake(0, stringToFind->length));
    View repl = isString(replacementString)
                    ? View(replacementString->chars, static_cast<size_t>(replacementString->length))
                    : View();

    bool literalForward =
        !(compareOptions & (kCFCompareCaseInsensitive | kCFCompareBackwards | kCFCompareAnchored));
    if (literalForward && needle.size() == repl.size()) {
        // The usual case ("%s" -> "%S"): each match is overwritten where it is found. The scan
        // goes on after the match, so what was written is never searched again.
        UniChar* c = theString->chars;
        CFIndex pos = rangeToSearch.location, end = pos + rangeToSearch.length;
        CFIndex m = static_cast<CFIndex>(needle.size()), count = 0;
        while (end - pos >= m) {
            size_t at = findLiteral(View(c + pos, static_cast<size_t>(end - pos)), needle);
            if (at == View::npos)
                break;
            pos += static_cast<CFIndex>(at);
            copyUnits(c + pos, repl.data(), repl.size());
            pos += m;
            ++count;
        }
        return count;
    }

    return replaceCollected(theString, needle, repl, rangeToSearch, compareOptions);
}
