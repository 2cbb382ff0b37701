// Date formatters over ICU, in the default time zone.
//
//   f = CFDateFormatterCreate(nullptr, locale, kCFDateFormatterNoStyle, kCFDateFormatterNoStyle);
//   CFDateFormatterSetFormat(f, CFSTR("y-M-d"));
//   d = CFDateFormatterCreateDateFromString(nullptr, f, CFSTR("2024-3-9"), nullptr);
//   g = CFDateFormatterCreate(nullptr, locale, kCFDateFormatterLongStyle, kCFDateFormatterNoStyle);
//   CFDateFormatterCreateStringWithDate(nullptr, g, d)  -> "9. März 2024" (de_DE)
//
// Parsing is strict: the whole string must match (when no range is given)
// and fields must be in range ("2024-13-1" does not parse: null).
#pragma once

#if __has_include("platform/CoreFoundation.h")
#include "platform/CoreFoundation.h"
#endif

typedef const struct __CFLocale* CFLocaleRef; // as in CFLocale.h
typedef struct __CFDateFormatter* CFDateFormatterRef;
typedef CFIndex CFDateFormatterStyle;
enum : CFIndex {
    kCFDateFormatterNoStyle = 0,
    kCFDateFormatterShortStyle = 1,
    kCFDateFormatterMediumStyle = 2,
    kCFDateFormatterLongStyle = 3,
    kCFDateFormatterFullStyle = 4
};

CFTypeID CFDateFormatterGetTypeID(void);
// Null for a null locale or a style out of range.
CFDateFormatterRef CFDateFormatterCreate(CFAllocatorRef allocator, CFLocaleRef locale,
                                         CFDateFormatterStyle dateStyle,
                                         CFDateFormatterStyle timeStyle);
CFLocaleRef CFDateFormatterGetLocale(CFDateFormatterRef formatter);
void CFDateFormatterSetFormat(CFDateFormatterRef formatter, CFStringRef formatString);
// Owned by the formatter.
CFStringRef CFDateFormatterGetFormat(CFDateFormatterRef formatter);
// `rangep` (may be null: the whole string) is the part to parse and receives
// the part used. Null when it does not parse.
CFDateRef CFDateFormatterCreateDateFromString(CFAllocatorRef allocator,
                                              CFDateFormatterRef formatter, CFStringRef string,
                                              CFRange* rangep);
Boolean CFDateFormatterGetAbsoluteTimeFromString(CFDateFormatterRef formatter, CFStringRef string,
                                                 CFRange* rangep, CFAbsoluteTime* atp);
CFStringRef CFDateFormatterCreateStringWithDate(CFAllocatorRef allocator,
                                                CFDateFormatterRef formatter, CFDateRef date);
CFStringRef CFDateFormatterCreateStringWithAbsoluteTime(CFAllocatorRef allocator,
                                                        CFDateFormatterRef formatter,
                                                        CFAbsoluteTime at);
