// Unicode collation (text utilities): compares 16-bit texts the way people sort them,
// not by code unit. The collator is ICU's root collation; the options adjust it:
//   kUCCollateCaseInsensitiveMask         "a" equals "A" (accents and width still count)
//   kUCCollateDiacritInsensitiveMask      "e" equals "é" (and case is ignored too)
//   kUCCollateComposeInsensitiveMask      "e" + U+0301 equals "é" (canonical equivalence)
//   kUCCollateWidthInsensitiveMask        fullwidth/halfwidth forms equal their normal forms
//   kUCCollatePunctuationSignificantMask  punctuation and spaces count; without it they are
//                                         ignored ("a-b" equals "ab")
//   kUCCollateDigitsAsNumberMask          digit runs compare by value ("a9" < "a10")
// Results: noErr and *order < 0, 0 or > 0 with *equivalent true exactly when order is 0;
// paramErr for a NULL collator or a NULL text with a non-zero length. The locale and
// operation variant arguments are accepted and ignored (root collation everywhere).
#pragma once

#include "platform/MacTypes.h"

typedef struct OpaqueCollatorRef* CollatorRef;
typedef struct OpaqueLocaleRef* LocaleRef;
typedef UInt32 LocaleOperationVariant;
typedef UInt32 UCCollateOptions;

enum : UCCollateOptions {
    kUCCollateComposeInsensitiveMask = 1u << 1,
    kUCCollateWidthInsensitiveMask = 1u << 2,
    kUCCollateCaseInsensitiveMask = 1u << 3,
    kUCCollateDiacritInsensitiveMask = 1u << 4,
    kUCCollatePunctuationSignificantMask = 1u << 15,
    kUCCollateDigitsOverrideMask = 1u << 16,
    kUCCollateDigitsAsNumberMask = 1u << 17,
    kUCCollateStandardOptions = kUCCollateComposeInsensitiveMask | kUCCollateWidthInsensitiveMask,
};

enum : OSStatus {
    kCollateInvalidOptions = -29501,
    kCollateInvalidCollationRef = -29507,
};

// Makes a collator for the options; *collatorRef is NULL on failure.
OSStatus UCCreateCollator(LocaleRef locale, LocaleOperationVariant opVariant,
                          UCCollateOptions options, CollatorRef* collatorRef);
// Compares text1 with text2 (lengths in units).
OSStatus UCCompareText(CollatorRef collatorRef, const UniChar* text1Ptr, UniCharCount text1Length,
                       const UniChar* text2Ptr, UniCharCount text2Length, Boolean* equivalent,
                       SInt32* order);
// Frees the collator and sets *collatorRef to NULL.
OSStatus UCDisposeCollator(CollatorRef* collatorRef);
// UCCompareText with a collator for the options, made and cached internally.
OSStatus UCCompareTextDefault(UCCollateOptions options, const UniChar* text1Ptr,
                              UniCharCount text1Length, const UniChar* text2Ptr,
                              UniCharCount text2Length, Boolean* equivalent, SInt32* order);
