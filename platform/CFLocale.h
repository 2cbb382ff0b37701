// Locales over ICU.
//
//   CFLocaleCopyCurrent()             from LC_ALL, else LC_MESSAGES, else LANG
//                                     ("de_DE.UTF-8" -> "de_DE"); "en_US_POSIX"
//                                     for C, POSIX or nothing set
//   CFLocaleCreate(nullptr, "de-DE")  identifier "de_DE" (canonical form); null
//                                     for an identifier without a language
//   CFLocaleCopyAvailableLocaleIdentifiers()   ICU's locales ("de", "de_DE", ...)
#pragma once

#if __has_include("platform/CoreFoundation.h")
#include "platform/CoreFoundation.h"
#endif

typedef const struct __CFLocale* CFLocaleRef;

CFTypeID CFLocaleGetTypeID(void);
CFLocaleRef CFLocaleCopyCurrent(void);
CFLocaleRef CFLocaleCreate(CFAllocatorRef allocator, CFStringRef localeIdentifier);
// Owned by the locale.
CFStringRef CFLocaleGetIdentifier(CFLocaleRef locale);
CFArrayRef CFLocaleCopyAvailableLocaleIdentifiers(void);
// "de-DE" -> "de_DE", "EN_us" -> "en_US"; null when it names no language.
CFStringRef CFLocaleCreateCanonicalLocaleIdentifierFromString(CFAllocatorRef allocator,
                                                              CFStringRef localeIdentifier);
// The user's languages (BCP-47 tags) in order; an empty array when none is set.
CFArrayRef CFLocaleCopyPreferredLanguages(void);
