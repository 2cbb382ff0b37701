// Collation over ICU's root collator. One ICU collator per option set is opened on
// first use and shared (comparison through a const collator is thread-safe); a
// CollatorRef is a small handle onto it, so creating and disposing one per comparison,
// as callers do, stays cheap.
#include "platform/TextUtils.h"

#include <unicode/ucol.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

struct OpaqueCollatorRef {
    UCollator* collator;
    UCCollateOptions options;
};

namespace {

constexpr UCCollateOptions kKnownOptions =
    kUCCollateComposeInsensitiveMask | kUCCollateWidthInsensitiveMask |
    kUCCollateCaseInsensitiveMask | kUCCollateDiacritInsensitiveMask |
    kUCCollatePunctuationSignificantMask | kUCCollateDigitsOverrideMask |
    kUCCollateDigitsAsNumberMask | 1u; // bit 0 (HFS-style ordering) is accepted and ignored

UCollator* openCollator(UCCollateOptions options) {
    UErrorCode err = U_ZERO_ERROR;
    UCollator* c = ucol_open("", &err);
    if (U_FAILURE(err))
        return nullptr;
    auto set = [&](UColAttribute a, UColAttributeValue v) {
        UErrorCode e = U_ZERO_ERROR;
        ucol_setAttribute(c, a, v, &e);
        if (U_FAILURE(e))
            err = e;
    };
    // Without diacritics only the base letters count, and the case level brings case back
    // unless it is to be ignored too. Otherwise the full tertiary strength: it tells width,
    // kana and compatibility forms apart as well as case, so case alone is ignored by folding
    // the texts first (foldsCase), never by dropping to the secondary strength.
    if (options & kUCCollateDiacritInsensitiveMask) {
        set(UCOL_STRENGTH, UCOL_PRIMARY);
        set(UCOL_CASE_LEVEL, (options & kUCCollateCaseInsensitiveMask) ? UCOL_OFF : UCOL_ON);
    } else {
        set(UCOL_STRENGTH, UCOL_TERTIARY);
    }
    set(UCOL_NORMALIZATION_MODE, (options & kUCCollateComposeInsensitiveMask) ? UCOL_ON : UCOL_OFF);
    set(UCOL_ALTERNATE_HANDLING,
        (options & kUCCollatePunctuationSignificantMask) ? UCOL_NON_IGNORABLE : UCOL_SHIFTED);
    set(UCOL_NUMERIC_COLLATION, (options & kUCCollateDigitsAsNumberMask) ? UCOL_ON : UCOL_OFF);
    if (U_FAILURE(err)) {
        ucol_close(c);
        return nullptr;
    }
    return c;
}

UCollator* sharedCollator(UCCollateOptions options) {
    static std::mutex lock;
    static auto* cache = new std::unordered_map<UCCollateOptions, UCollator*>();
    std::lock_guard<std::mutex> guard(lock);
    auto it = cache->find(options);
    if (it != cache->end())
        return it->second;
    UCollator* c = openCollator(options);
    if (c != nullptr)
        cache->emplace(options, c);
    return c;
}

bool isWidthForm(UniChar c) {
    return c == 0x3000 || (c >= 0xFF01 && c <= 0xFFEE);
}

// Replaces fullwidth and halfwidth forms by their normal forms (NFKC of each one).
const UniChar* foldWidth(const UniChar* p, UniCharCount& n, std::u16string& store) {
    // Width forms all lie at U+3000 and above: skip four units at a time while every
    // one of them is below U+1000.
    UniCharCount i = 0;
    while (i < n) {
        if (i + 4 <= n) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            if ((w & 0xF000F000F000F000ull) == 0) {
                i += 4;
                continue;
            }
        }
        if (isWidthForm(p[i]))
            break;
        ++i;
    }
    if (i == n)
        return p;
    UErrorCode err = U_ZERO_ERROR;
    const UNormalizer2* nfkc = unorm2_getNFKCInstance(&err);
    store.assign(reinterpret_cast<const char16_t*>(p), i);
    for (; i < n; ++i) {
        UniChar c = p[i];
        if (c == 0x3000) {
            store.push_back(u' ');
        } else if (c >= 0xFF01 && c <= 0xFF5E) {
            store.push_back(static_cast<char16_t>(c - 0xFEE0));
        } else if (isWidthForm(c) && U_SUCCESS(err)) {
            UChar out[8];
            UErrorCode e = U_ZERO_ERROR;
            int32_t len = unorm2_normalize(nfkc, reinterpret_cast<const UChar*>(&c), 1, out, 8, &e);
            if (U_SUCCESS(e))
                store.append(reinterpret_cast<const char16_t*>(out), static_cast<size_t>(len));
            else
                store.push_back(static_cast<char16_t>(c));
        } else {
            store.push_back(static_cast<char16_t>(c));
        }
    }
    n = store.size();
    return reinterpret_cast<const UniChar*>(store.data());
}

bool foldsCase(UCCollateOptions options) {
    return (options & kUCCollateCaseInsensitiveMask) &&
           !(options & kUCCollateDiacritInsensitiveMask);
}

// Room for a folded text: inside the object for the short texts most comparisons see, so
// that folding costs no allocation.
class FoldedText {
public:
    char16_t* Room(size_t n) {
        if (n <= kInline)
            return inline_;
        heap_.reset(new char16_t[n]);
        return heap_.get();
    }

private:
    static constexpr size_t kInline = 160;
    char16_t inline_[kInline];
    std::unique_ptr<char16_t[]> heap_;
};

// Case-folds the text (full folding, as the platform strings fold: "ß" becomes "ss"); the text
// itself when folding changes nothing, which for ASCII without capitals costs one scan.
const UniChar* foldCase(const UniChar* p, UniCharCount& n, FoldedText& store) {
    UniCharCount i = 0;
    while (i < n && p[i] < 0x80 && !(p[i] >= u'A' && p[i] <= u'Z'))
        ++i;
    if (i == n)
        return p;
    UniCharCount ascii = i;
    while (ascii < n && p[ascii] < 0x80)
        ++ascii;
    // A unit folds to at most three.
    const size_t room = ascii == n ? n : i + 3 * (n - i);
    char16_t* out = store.Room(room);
    std::memcpy(out, p, i * sizeof(char16_t));
    if (ascii == n) {
        for (; i < n; ++i)
            out[i] = p[i] >= u'A' && p[i] <= u'Z' ? char16_t(p[i] + 32) : char16_t(p[i]);
    } else {
        UErrorCode err = U_ZERO_ERROR;
        int32_t len =
            u_strFoldCase(reinterpret_cast<UChar*>(out + i), static_cast<int32_t>(room - i),
                          reinterpret_cast<const UChar*>(p + i), static_cast<int32_t>(n - i),
                          U_FOLD_CASE_DEFAULT, &err);
        if (U_FAILURE(err))
            return p;
        n = i + static_cast<size_t>(len);
    }
    return reinterpret_cast<const UniChar*>(out);
}

OSStatus compareWith(UCollator* coll, UCCollateOptions options, const UniChar* t1, UniCharCount n1,
                     const UniChar* t2, UniCharCount n2, Boolean* equivalent, SInt32* order) {
    if ((t1 == nullptr && n1 > 0) || (t2 == nullptr && n2 > 0) || n1 > INT32_MAX || n2 > INT32_MAX)
        return paramErr;
    static const UniChar kEmpty[1] = {0};
    if (t1 == nullptr)
        t1 = kEmpty;
    if (t2 == nullptr)
        t2 = kEmpty;
    std::u16string w1, w2;
    FoldedText c1, c2;
    if (options & kUCCollateWidthInsensitiveMask) {
        t1 = foldWidth(t1, n1, w1);
        t2 = foldWidth(t2, n2, w2);
    }
    if (foldsCase(options)) {
        t1 = foldCase(t1, n1, c1);
        t2 = foldCase(t2, n2, c2);
    }
    UCollationResult r =
        ucol_strcoll(coll, reinterpret_cast<const UChar*>(t1), static_cast<int32_t>(n1),
                     reinterpret_cast<const UChar*>(t2), static_cast<int32_t>(n2));
    SInt32 o = r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
    if (order != nullptr)
        *order = o;
    if (equivalent != nullptr)
        *equivalent = o == 0;
    return noErr;
}

} // namespace

OSStatus UCCreateCollator(LocaleRef, LocaleOperationVariant, UCCollateOptions options,
                          CollatorRef* collatorRef) {
    if (collatorRef == nullptr)
        return paramErr;
    *collatorRef = nullptr;
    if (options & ~kKnownOptions)
        return kCollateInvalidOptions;
    UCollator* c = sharedCollator(options);
    if (c == nullptr)
        return kCollateInvalidCollationRef;
    *collatorRef = new OpaqueCollatorRef{c, options};
    return noErr;
}

OSStatus UCCompareText(CollatorRef collatorRef, const UniChar* text1Ptr, UniCharCount text1Length,
                       const UniChar* text2Ptr, UniCharCount text2Length, Boolean* equivalent,
                       SInt32* order) {
    if (collatorRef == nullptr || collatorRef->collator == nullptr)
        return paramErr;
    return compareWith(collatorRef->collator, collatorRef->options, text1Ptr, text1Length, text2Ptr,
                       text2Length, equivalent, order);
}

OSStatus UCDisposeCollator(CollatorRef* collatorRef) {
    if (collatorRef == nullptr)
        return paramErr;
    delete *collatorRef;
    *collatorRef = nullptr;
    return noErr;
}

OSStatus UCCompareTextDefault(UCCollateOptions options, const UniChar* text1Ptr,
                              UniCharCount text1Length, const UniChar* text2Ptr,
                              UniCharCount text2Length, Boolean* equivalent, SInt32* order) {
    if (options & ~kKnownOptions)
        return kCollateInvalidOptions;
    UCollator* c = sharedCollator(options);
    if (c == nullptr)
        return kCollateInvalidCollationRef;
    return compareWith(c, options, text1Ptr, text1Length, text2Ptr, text2Length, equivalent, order);
}
