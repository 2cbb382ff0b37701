// CoreFoundation-style services: reference-counted objects, UTF-16 strings, encodings,
// character sets, numbers, booleans, data, dates, arrays, dictionaries, the format
// engine and file URLs. One include gives the whole API, preferences, bundles, locales
// and date formatters included.
//
// Contract, once for every call below:
// - A function whose name contains Create or Copy returns an object the caller owns and
//   releases with CFRelease; Get functions return objects owned by someone else.
// - Every object is reference counted: CFRetain adds a reference, CFRelease drops one and
//   frees the object with its last. Objects are safe to share between threads only for
//   reading; counts themselves are atomic.
// - Strings hold UTF-16 code units (UniChar = char16_t). Lengths, indices and ranges are
//   counted in units. A string made with CFStringCreateWithCharactersNoCopy and
//   kCFAllocatorNull refers to its caller's units; copies and containers copy them.
// - Failure is a result: NULL, false, kCFNotFound (-1) or 0. A NULL object argument is
//   treated as empty (a count of 0, a failed search), never dereferenced.
// - 8-bit text "in the system encoding" is UTF-8 (CFStringGetSystemEncoding).
#pragma once

#include "platform/MacTypes.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------
// Base types
// ---------------------------------------------------------------------------------------

typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef const void* CFTypeRef;

struct CFRange {
    CFIndex location;
    CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
    return CFRange{location, length};
}

enum : CFIndex { kCFNotFound = -1 };

typedef CFIndex CFComparisonResult;
enum : CFIndex { kCFCompareLessThan = -1, kCFCompareEqualTo = 0, kCFCompareGreaterThan = 1 };
typedef CFComparisonResult (*CFComparatorFunction)(const void* val1, const void* val2,
                                                   void* context);

typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef const struct __CFArray* CFArrayRef;
typedef struct __CFArray* CFMutableArrayRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFData* CFDataRef;
typedef struct __CFData* CFMutableDataRef;
typedef const struct __CFDate* CFDateRef;
typedef const struct __CFCharacterSet* CFCharacterSetRef;
typedef const struct __CFURL* CFURLRef;
typedef const struct __CFNull* CFNullRef;
typedef CFTypeRef CFPropertyListRef;

// ---------------------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------------------

// Adds a reference; returns cf. CFRetain(NULL) returns NULL.
CFTypeRef CFRetain(CFTypeRef cf);
// Drops a reference and frees the object with its last one. NULL is ignored.
void CFRelease(CFTypeRef cf);
// The current reference count (immortal objects report a large constant).
CFIndex CFGetRetainCount(CFTypeRef cf);
// Same type and same value (strings: same units; numbers: same value; ...). Identity
// is always equal; NULL equals only NULL.
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
// A hash consistent with CFEqual.
CFHashCode CFHash(CFTypeRef cf);
// The object's type id (compare with CFStringGetTypeID() and friends); 0 for NULL.
CFTypeID CFGetTypeID(CFTypeRef cf);
// A readable name of a type id, e.g. "CFString".
CFStringRef CFCopyTypeIDDescription(CFTypeID typeID);
// A readable description: a string's own text, a number's decimal value, an array as
// "(a, b)", a dictionary as "{k = v; }".
CFStringRef CFCopyDescription(CFTypeRef cf);
// Writes CFCopyDescription(cf) and a newline to standard error.
void CFShow(CFTypeRef cf);

// ---------------------------------------------------------------------------------------
// Allocators: NULL and kCFAllocatorDefault mean malloc/free. kCFAllocatorNull, given as
// a contents deallocator, leaves memory with its owner. CFAllocatorCreate makes an
// allocator from caller callbacks (used to observe or route contents deallocation).
// ---------------------------------------------------------------------------------------

typedef const void* (*CFAllocatorRetainCallBack)(const void* info);
typedef void (*CFAllocatorReleaseCallBack)(const void* info);
typedef CFStringRef (*CFAllocatorCopyDescriptionCallBack)(const void* info);
typedef void* (*CFAllocatorAllocateCallBack)(CFIndex allocSize, CFOptionFlags hint, void* info);
typedef void* (*CFAllocatorReallocateCallBack)(void* ptr, CFIndex newsize, CFOptionFlags hint,
                                               void* info);
typedef void (*CFAllocatorDeallocateCallBack)(void* ptr, void* info);
typedef CFIndex (*CFAllocatorPreferredSizeCallBack)(CFIndex size, CFOptionFlags hint, void* info);
struct CFAllocatorContext {
    CFIndex version;
    void* info;
    CFAllocatorRetainCallBack retain;
    CFAllocatorReleaseCallBack release;
    CFAllocatorCopyDescriptionCallBack copyDescription;
    CFAllocatorAllocateCallBack allocate;
    CFAllocatorReallocateCallBack reallocate;
    CFAllocatorDeallocateCallBack deallocate;
    CFAllocatorPreferredSizeCallBack preferredSize;
};

extern const CFAllocatorRef kCFAllocatorDefault;       // NULL: the default (malloc)
extern const CFAllocatorRef kCFAllocatorSystemDefault; // malloc/free
extern const CFAllocatorRef kCFAllocatorMalloc;        // malloc/free
extern const CFAllocatorRef kCFAllocatorNull;          // allocates nothing, frees nothing
extern const CFAllocatorRef kCFAllocatorUseContext;

CFTypeID CFAllocatorGetTypeID(void);
CFAllocatorRef CFAllocatorGetDefault(void);
CFAllocatorRef CFAllocatorCreate(CFAllocatorRef allocator, CFAllocatorContext* context);
void* CFAllocatorAllocate(CFAllocatorRef allocator, CFIndex size, CFOptionFlags hint);
void CFAllocatorDeallocate(CFAllocatorRef allocator, void* ptr);

// ---------------------------------------------------------------------------------------
// Strings: encodings
// ---------------------------------------------------------------------------------------

typedef UInt32 CFStringEncoding;
typedef CFIndex CFStringEncodings;

enum : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingWindowsLatin1 = 0x0500,
    kCFStringEncodingISOLatin1 = 0x0201,
    kCFStringEncodingNextStepLatin = 0x0B01,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUnicode = 0x0100,
    kCFStringEncodingUTF8 = 0x08000100,
    kCFStringEncodingNonLossyASCII = 0x0BFF,
    kCFStringEncodingUTF16 = 0x0100,
    kCFStringEncodingUTF16BE = 0x10000100,
    kCFStringEncodingUTF16LE = 0x14000100,
    kCFStringEncodingUTF32 = 0x0c000100,
    kCFStringEncodingUTF32BE = 0x18000100,
    kCFStringEncodingUTF32LE = 0x1c000100,
    kCFStringEncodingInvalidId = 0xffffffffU,

    // Further encodings (the Windows, DOS and ISO code pages; East Asian sets).
    kCFStringEncodingMacJapanese = 1,
    kCFStringEncodingMacChineseTrad = 2,
    kCFStringEncodingMacKorean = 3,
    kCFStringEncodingMacArabic = 4,
    kCFStringEncodingMacHebrew = 5,
    kCFStringEncodingMacGreek = 6,
    kCFStringEncodingMacCyrillic = 7,
    kCFStringEncodingMacThai = 21,
    kCFStringEncodingMacChineseSimp = 25,
    kCFStringEncodingMacCentralEurRoman = 29,
    kCFStringEncodingMacTurkish = 35,
    kCFStringEncodingMacCroatian = 36,
    kCFStringEncodingMacIcelandic = 37,
    kCFStringEncodingMacRomanian = 38,
    kCFStringEncodingMacUkrainian = 0x98,
    kCFStringEncodingISOLatin2 = 0x0202,
    kCFStringEncodingISOLatin3 = 0x0203,
    kCFStringEncodingISOLatin4 = 0x0204,
    kCFStringEncodingISOLatinCyrillic = 0x0205,
    kCFStringEncodingISOLatinArabic = 0x0206,
    kCFStringEncodingISOLatinGreek = 0x0207,
    kCFStringEncodingISOLatinHebrew = 0x0208,
    kCFStringEncodingISOLatin5 = 0x0209,
    kCFStringEncodingISOLatin6 = 0x020A,
    kCFStringEncodingISOLatinThai = 0x020B,
    kCFStringEncodingISOLatin7 = 0x020D,
    kCFStringEncodingISOLatin8 = 0x020E,
    kCFStringEncodingISOLatin9 = 0x020F,
    kCFStringEncodingISOLatin10 = 0x0210,
    kCFStringEncodingDOSLatinUS = 0x0400,
    kCFStringEncodingDOSGreek = 0x0405,
    kCFStringEncodingDOSBalticRim = 0x0406,
    kCFStringEncodingDOSLatin1 = 0x0410,
    kCFStringEncodingDOSGreek1 = 0x0411,
    kCFStringEncodingDOSLatin2 = 0x0412,
    kCFStringEncodingDOSCyrillic = 0x0413,
    kCFStringEncodingDOSTurkish = 0x0414,
    kCFStringEncodingDOSPortuguese = 0x0415,
    kCFStringEncodingDOSIcelandic = 0x0416,
    kCFStringEncodingDOSHebrew = 0x0417,
    kCFStringEncodingDOSCanadianFrench = 0x0418,
    kCFStringEncodingDOSArabic = 0x0419,
    kCFStringEncodingDOSNordic = 0x041A,
    kCFStringEncodingDOSRussian = 0x041B,
    kCFStringEncodingDOSGreek2 = 0x041C,
    kCFStringEncodingDOSThai = 0x041D,
    kCFStringEncodingDOSJapanese = 0x0420,
    kCFStringEncodingDOSChineseSimplif = 0x0421,
    kCFStringEncodingDOSKorean = 0x0422,
    kCFStringEncodingDOSChineseTrad = 0x0423,
    kCFStringEncodingWindowsLatin2 = 0x0501,
    kCFStringEncodingWindowsCyrillic = 0x0502,
    kCFStringEncodingWindowsGreek = 0x0503,
    kCFStringEncodingWindowsLatin5 = 0x0504,
    kCFStringEncodingWindowsHebrew = 0x0505,
    kCFStringEncodingWindowsArabic = 0x0506,
    kCFStringEncodingWindowsBalticRim = 0x0507,
    kCFStringEncodingWindowsVietnamese = 0x0508,
    kCFStringEncodingWindowsKoreanJohab = 0x0510,
    kCFStringEncodingGB_18030_2000 = 0x0632,
    kCFStringEncodingISO_2022_JP = 0x0820,
    kCFStringEncodingEUC_JP = 0x0920,
    kCFStringEncodingEUC_CN = 0x0930,
    kCFStringEncodingEUC_KR = 0x0940,
    kCFStringEncodingShiftJIS = 0x0A01,
    kCFStringEncodingKOI8_R = 0x0A02,
    kCFStringEncodingBig5 = 0x0A03,
    kCFStringEncodingKOI8_U = 0x0A08,
};

// UTF-8: 8-bit text of the system ("%s" in formats) is UTF-8.
CFStringEncoding CFStringGetSystemEncoding(void);
// Whether strings can be converted to and from the encoding.
Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding);
// Windows code page number -> encoding (65001 -> UTF-8, 1252 -> WindowsLatin1,
// 10000 -> MacRoman, 28591 -> ISOLatin1, 1200/1201 -> UTF-16LE/BE, 20127 -> ASCII, ...);
// kCFStringEncodingInvalidId for a number the table lacks (0 included).
CFStringEncoding CFStringConvertWindowsCodepageToEncoding(UInt32 codepage);
// The reverse; kCFStringEncodingInvalidId (all bits set) when there is none.
UInt32 CFStringConvertEncodingToWindowsCodepage(CFStringEncoding encoding);
// An IANA-style name ("UTF-8", "macintosh", "windows-1252"); NULL when unknown.
CFStringRef CFStringConvertEncodingToIANACharSetName(CFStringEncoding encoding);
// Bytes needed at most for `length` units in the encoding (e.g. 3 per unit for UTF-8).
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
// Bytes needed at most for a file-system path of the string (UTF-8) with its zero byte.
CFIndex CFStringGetMaximumSizeOfFileSystemRepresentation(CFStringRef string);

// ---------------------------------------------------------------------------------------
// Strings: creation and access
// ---------------------------------------------------------------------------------------

CFTypeID CFStringGetTypeID(void);

// A copy of numChars units. NULL chars with numChars 0 gives the empty string.
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* chars,
                                         CFIndex numChars);
// Refers to the caller's units without copying them. contentsDeallocator frees them
// with the string's last release; kCFAllocatorNull leaves them with the caller, who
// keeps them unchanged until the string is released.
CFStringRef CFStringCreateWithCharactersNoCopy(CFAllocatorRef alloc, const UniChar* chars,
                                               CFIndex numChars,
                                               CFAllocatorRef contentsDeallocator);
// Decodes a zero-terminated byte string; NULL when a byte sequence is not valid in the
// encoding (e.g. "\xC3" alone in UTF-8, a byte >= 0x80 in ASCII).
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding);
// The same, taking ownership of the bytes: they are decoded and then freed with
// contentsDeallocator (kCFAllocatorNull: not freed).
CFStringRef CFStringCreateWithCStringNoCopy(CFAllocatorRef alloc, const char* cStr,
                                            CFStringEncoding encoding,
                                            CFAllocatorRef contentsDeallocator);
// Decodes numBytes bytes (zeros included). With isExternalRepresentation a UTF-16/32
// byte-order mark is honoured and dropped; without one Unicode data is big-endian when
// external, host order otherwise.
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithBytesNoCopy(CFAllocatorRef alloc, const UInt8* bytes,
                                          CFIndex numBytes, CFStringEncoding encoding,
                                          Boolean isExternalRepresentation,
                                          CFAllocatorRef contentsDeallocator);
// An immutable copy; shares an immutable owned string, copies anything else.
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString);
// The units of range as a new string; NULL for a range outside the string.
CFStringRef CFStringCreateWithSubstring(CFAllocatorRef alloc, CFStringRef str, CFRange range);
// Strings joined with separator: ("a","b") + ", " -> "a, b".
CFStringRef CFStringCreateByCombiningStrings(CFAllocatorRef alloc, CFArrayRef theArray,
                                             CFStringRef separatorString);

// A cached, immortal string for a literal (UTF-8 source text).
CFStringRef __CFStringMakeConstantString(const char* cStr);
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")

CFIndex CFStringGetLength(CFStringRef theString);
// The unit at idx; 0 outside the string.
UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx);
// Copies the units of range into buffer (which holds range.length units).
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer);
// The string's own units when stored contiguously (always, here), else NULL.
const UniChar* CFStringGetCharactersPtr(CFStringRef theString);
// Encodes the whole string plus a zero byte into buffer. False (buffer holding an empty
// string when bufferSize > 0) when a character is missing from the encoding or the
// buffer is too small.
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
// The string as zero-terminated bytes in the encoding without conversion, when it is
// kept that way (strings made from 8-bit text; pure ASCII strings for ASCII-compatible
// encodings); otherwise NULL, and CFStringGetCString must be used.
const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);
// Encodes the units of range. A character missing from the encoding becomes lossByte,
// or stops the conversion when lossByte is 0. NULL buffer: counts bytes only. Returns
// the number of units converted; *usedBufLen the bytes written (or needed).
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen);
// The zero-terminated UTF-8 path of the string; false when it does not fit.
Boolean CFStringGetFileSystemRepresentation(CFStringRef string, char* buffer, CFIndex maxBufLen);
// The string from a zero-terminated UTF-8 path; NULL when not valid UTF-8.
CFStringRef CFStringCreateWithFileSystemRepresentation(CFAllocatorRef alloc, const char* buffer);

// The leading integer after optional white space and sign ("  -12ab" -> -12); 0 when
// there is none. Saturates at INT32_MIN/INT32_MAX.
SInt32 CFStringGetIntValue(CFStringRef str);
// The leading decimal number ("3.5e2x" -> 350.0); 0.0 when there is none.
double CFStringGetDoubleValue(CFStringRef str);

// ---------------------------------------------------------------------------------------
// Strings: comparison and searching
// ---------------------------------------------------------------------------------------

typedef CFOptionFlags CFStringCompareFlags;
enum : CFStringCompareFlags {
    kCFCompareCaseInsensitive = 1,
    kCFCompareBackwards = 4,
    kCFCompareAnchored = 8,
    kCFCompareNonliteral = 16,
    kCFCompareLocalized = 32,
    kCFCompareNumerically = 64,
    kCFCompareDiacriticInsensitive = 128,
    kCFCompareWidthInsensitive = 256,
    kCFCompareForcedOrdering = 512,
};

// Code-unit order; with kCFCompareCaseInsensitive after full case folding ("straße"
// equals "STRASSE"); kCFCompareNumerically orders runs of ASCII digits by value
// ("a9" < "a10"). Results -1, 0, 1 with theString1 on the left. The other flags
// (nonliteral, localized, diacritic, width, forced ordering) are accepted and ignored;
// ordering that people expect comes from the collation calls of TextUtils.h.
CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions);
// The same over rangeToCompare of theString1 against the whole theString2.
CFComparisonResult CFStringCompareWithOptions(CFStringRef theString1, CFStringRef theString2,
                                              CFRange rangeToCompare,
                                              CFStringCompareFlags compareOptions);
// First (or, with kCFCompareBackwards, last) occurrence of stringToFind; {-1, 0} when
// none. kCFCompareAnchored: only at the start (backwards: at the end).
CFRange CFStringFind(CFStringRef theString, CFStringRef stringToFind,
                     CFStringCompareFlags compareOptions);
// The same within rangeToSearch; true and *result set when found (*result untouched
// otherwise). An empty stringToFind is never found. Case-insensitive matches may differ
// in length from stringToFind ("SS" matches "ß").
Boolean CFStringFindWithOptions(CFStringRef theString, CFStringRef stringToFind,
                                CFRange rangeToSearch, CFStringCompareFlags searchOptions,
                                CFRange* result);
// Every occurrence, as an array of ranges wrapped in CFData (a CFRange each); NULL when
// none.
CFArrayRef CFStringCreateArrayWithFindResults(CFAllocatorRef alloc, CFStringRef theString,
                                              CFStringRef stringToFind, CFRange rangeToSearch,
                                              CFStringCompareFlags compareOptions);
// Anchored finds: an empty prefix or suffix is never found, so the result is false.
Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix);
Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix);
// Splits at every occurrence of separatorString: "a,b," by "," -> ("a", "b", "").
CFArrayRef CFStringCreateArrayBySeparatingStrings(CFAllocatorRef alloc, CFStringRef theString,
                                                  CFStringRef separatorString);

// Character sets: sets of code points.
CFTypeID CFCharacterSetGetTypeID(void);
// The code points of theString (a surrogate pair counts as one character).
CFCharacterSetRef CFCharacterSetCreateWithCharactersInString(CFAllocatorRef alloc,
                                                             CFStringRef theString);
// The code points theRange.location .. location + length - 1.
CFCharacterSetRef CFCharacterSetCreateWithCharactersInRange(CFAllocatorRef alloc, CFRange theRange);
typedef CFIndex CFCharacterSetPredefinedSet;
enum : CFIndex {
    kCFCharacterSetControl = 1,
    kCFCharacterSetWhitespace = 2,
    kCFCharacterSetWhitespaceAndNewline = 3,
    kCFCharacterSetDecimalDigit = 4,
    kCFCharacterSetLetter = 5,
    kCFCharacterSetLowercaseLetter = 6,
    kCFCharacterSetUppercaseLetter = 7,
    kCFCharacterSetAlphaNumeric = 10,
    kCFCharacterSetPunctuation = 11,
};
// A shared immortal set (Unicode properties).
CFCharacterSetRef CFCharacterSetGetPredefined(CFCharacterSetPredefinedSet theSetIdentifier);
Boolean CFCharacterSetIsCharacterMember(CFCharacterSetRef theSet, UniChar theChar);
Boolean CFCharacterSetIsLongCharacterMember(CFCharacterSetRef theSet, UTF32Char theChar);
// The first (backwards: last) character of rangeToSearch that is in theSet;
// kCFCompareAnchored only looks at the first (backwards: last) character.
Boolean CFStringFindCharacterFromSet(CFStringRef theString, CFCharacterSetRef theSet,
                                     CFRange rangeToSearch, CFStringCompareFlags searchOptions,
                                     CFRange* result);

// ---------------------------------------------------------------------------------------
// Mutable strings
// ---------------------------------------------------------------------------------------

// maxLength 0 means unlimited; otherwise edits that would exceed it are refused.
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength);
CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength,
                                             CFStringRef theString);
void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString);
void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar* chars, CFIndex numChars);
// Appends decoded text; nothing when it is not valid in the encoding.
void CFStringAppendCString(CFMutableStringRef theString, const char* cStr,
                           CFStringEncoding encoding);
void CFStringInsert(CFMutableStringRef str, CFIndex idx, CFStringRef insertedStr);
void CFStringDelete(CFMutableStringRef theString, CFRange range);
void CFStringReplace(CFMutableStringRef theString, CFRange range, CFStringRef replacement);
void CFStringReplaceAll(CFMutableStringRef theString, CFStringRef replacement);
void CFStringSetValue(CFMutableStringRef theString, CFStringRef newValue); // alias of ReplaceAll
// Replaces every non-overlapping occurrence of stringToFind within rangeToSearch, left
// to right (kCFCompareBackwards: right to left); returns the number replaced.
CFIndex CFStringFindAndReplace(CFMutableStringRef theString, CFStringRef stringToFind,
                               CFStringRef replacementString, CFRange rangeToSearch,
                               CFStringCompareFlags compareOptions);
// Full Unicode case mapping, root locale ("ß" -> "SS"); the locale argument is ignored.
void CFStringUppercase(CFMutableStringRef theString, const void* locale);
void CFStringLowercase(CFMutableStringRef theString, const void* locale);
// Removes leading and trailing white space (Unicode White_Space).
void CFStringTrimWhitespace(CFMutableStringRef theString);
// Pads with padString (from indexIntoPad) or truncates to exactly length units.
void CFStringPad(CFMutableStringRef theString, CFStringRef padString, CFIndex length,
                 CFIndex indexIntoPad);

// ---------------------------------------------------------------------------------------
// Formatting: printf directives with flags (-+ #0'), width, precision, "*", positional
// "n$", length modifiers hh h l ll j z t L q, and %d %i %u %x %X %o %c %C %s %S %@ %p
// %e %E %f %F %g %G %a %A %%.
//   %@  any CF object: a string gives its characters, others their description
//   %S  a zero-terminated 16-bit string (const UniChar*)
//   %s  a zero-terminated 8-bit string in the system encoding (UTF-8)
//   %c  an int holding a byte; %C an int holding a UTF-16 unit
// A NULL %s/%S/%@ gives "(null)"; %s bytes that are not UTF-8 are read as MacRoman;
// %n writes nothing. Text that is not a directive ("100%", "%k") is copied as written.
// formatOptions is ignored. NULL for a NULL format, or n$ positions that mix with
// sequential arguments, leave one out or give one two types.
// ---------------------------------------------------------------------------------------

CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                     CFStringRef format, ...);
CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef alloc,
                                                 CFDictionaryRef formatOptions, CFStringRef format,
                                                 va_list arguments);
void CFStringAppendFormat(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                          CFStringRef format, ...);
void CFStringAppendFormatAndArguments(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                                      CFStringRef format, va_list arguments);

// ---------------------------------------------------------------------------------------
// Numbers, booleans, null, data, dates
// ---------------------------------------------------------------------------------------

typedef CFIndex CFNumberType;
enum : CFIndex {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberNSIntegerType = 15,
    kCFNumberCGFloatType = 16,
    kCFNumberMaxType = 16
};
CFTypeID CFNumberGetTypeID(void);
// Reads *valuePtr as theType; NULL for an unknown type or a NULL pointer.
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr);
// Integers are kept as SInt64, floating values as Float64: this gives one of those two.
CFNumberType CFNumberGetType(CFNumberRef number);
CFIndex CFNumberGetByteSize(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
// Writes the value converted to theType; false when the conversion lost information
// (out of range, fractional part dropped), the converted value is written anyway.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);
CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber, void* context);

CFTypeID CFBooleanGetTypeID(void);
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
Boolean CFBooleanGetValue(CFBooleanRef boolean);

CFTypeID CFNullGetTypeID(void);
extern const CFNullRef kCFNull;

CFTypeID CFDataGetTypeID(void);
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);
// Refers to the caller's bytes; bytesDeallocator frees them with the last release.
CFDataRef CFDataCreateWithBytesNoCopy(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length,
                                      CFAllocatorRef bytesDeallocator);
CFDataRef CFDataCreateCopy(CFAllocatorRef allocator, CFDataRef theData);
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef allocator, CFIndex capacity);
CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                         CFDataRef theData);
CFIndex CFDataGetLength(CFDataRef theData);
const UInt8* CFDataGetBytePtr(CFDataRef theData);
UInt8* CFDataGetMutableBytePtr(CFMutableDataRef theData);
void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8* buffer);
void CFDataSetLength(CFMutableDataRef theData, CFIndex length); // new bytes are zero
void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length);

// Absolute time: seconds since 2001-01-01 00:00:00 UTC.
typedef double CFTimeInterval;
typedef CFTimeInterval CFAbsoluteTime;
constexpr CFTimeInterval kCFAbsoluteTimeIntervalSince1970 = 978307200.0;
constexpr CFTimeInterval kCFAbsoluteTimeIntervalSince1904 = 3061152000.0;
CFAbsoluteTime CFAbsoluteTimeGetCurrent(void);
CFTypeID CFDateGetTypeID(void);
CFDateRef CFDateCreate(CFAllocatorRef allocator, CFAbsoluteTime at);
CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate);
CFComparisonResult CFDateCompare(CFDateRef theDate, CFDateRef otherDate, void* context);

// ---------------------------------------------------------------------------------------
// Arrays. The callbacks decide what happens to a value as it enters (retain: whatever it
// returns is stored) and leaves (release), and how values compare (equal: NULL means
// identity). NULL callbacks: values are stored as given and never retained.
// kCFTypeArrayCallBacks retains CF objects (a string referring to a caller's units is
// copied instead).
// ---------------------------------------------------------------------------------------

typedef const void* (*CFArrayRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFArrayReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFArrayCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFArrayEqualCallBack)(const void* value1, const void* value2);
struct CFArrayCallBacks {
    CFIndex version;
    CFArrayRetainCallBack retain;
    CFArrayReleaseCallBack release;
    CFArrayCopyDescriptionCallBack copyDescription;
    CFArrayEqualCallBack equal;
};
extern const CFArrayCallBacks kCFTypeArrayCallBacks;
typedef void (*CFArrayApplierFunction)(const void* value, void* context);

CFTypeID CFArrayGetTypeID(void);
CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks);
CFArrayRef CFArrayCreateCopy(CFAllocatorRef allocator, CFArrayRef theArray);
// capacity 0: unlimited; otherwise appends beyond it are refused.
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                       const CFArrayCallBacks* callBacks);
CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                           CFArrayRef theArray);
CFIndex CFArrayGetCount(CFArrayRef theArray);
// NULL for an index outside 0..count-1.
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);
void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void** values);
CFIndex CFArrayGetCountOfValue(CFArrayRef theArray, CFRange range, const void* value);
Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void* value);
CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void* value);
void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                          void* context);
void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value);
// idx may equal the count (append); later elements move up.
void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value);
void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value);
// Later elements move down by one.
void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx);
void CFArrayRemoveAllValues(CFMutableArrayRef theArray);
void CFArrayAppendArray(CFMutableArrayRef theArray, CFArrayRef otherArray, CFRange otherRange);
void CFArraySortValues(CFMutableArrayRef theArray, CFRange range, CFComparatorFunction comparator,
                       void* context);

// ---------------------------------------------------------------------------------------
// Dictionaries. Key callbacks add hash and equal (NULL: the pointer value and
// identity); value callbacks as for arrays. A key or value enters through its retain
// callback and whatever that returns is stored.
// ---------------------------------------------------------------------------------------

typedef const void* (*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void* value1, const void* value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void* value);
struct CFDictionaryKeyCallBacks {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
    CFDictionaryHashCallBack hash;
};
struct CFDictionaryValueCallBacks {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
};
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
// As kCFTypeDictionaryKeyCallBacks, but string keys are stored as immutable copies.
extern const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
typedef void (*CFDictionaryApplierFunction)(const void* key, const void* value, void* context);

CFTypeID CFDictionaryGetTypeID(void);
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);
CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef allocator, CFDictionaryRef theDict);
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                                     CFDictionaryRef theDict);
CFIndex CFDictionaryGetCount(CFDictionaryRef theDict);
// NULL when the key is absent.
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key);
Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void* key, const void** value);
Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void* key);
Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void* value);
// All keys and values, keys[i] belonging to values[i] (in no particular order); either
// pointer may be NULL.
void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values);
void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                               void* context);
// Adds only when the key is absent.
void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void* key, const void* value);
// Adds or replaces (the old value is released, the stored key kept).
void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value);
// Replaces only when the key is present.
void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void* key, const void* value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void* key);
void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict);

// ---------------------------------------------------------------------------------------
// URLs. File URLs keep a POSIX path; the string form is "file://" plus the
// percent-escaped UTF-8 path ("/a b" -> "file:///a%20b"). A directory URL ends in "/".
// ---------------------------------------------------------------------------------------

typedef CFIndex CFURLPathStyle;
enum : CFIndex { kCFURLPOSIXPathStyle = 0, kCFURLHFSPathStyle = 1, kCFURLWindowsPathStyle = 2 };

CFTypeID CFURLGetTypeID(void);
// A file URL of filePath (a relative path is taken relative to the working folder at
// the time of the call); NULL for an empty path or another style than POSIX.
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory);
// From a zero-terminated UTF-8 path of bufLen bytes.
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory);
// Parses a URL string ("file:///tmp/x", "https://host/p?q"); NULL when not a URL
// (empty, spaces or other characters that must be escaped).
CFURLRef CFURLCreateWithString(CFAllocatorRef allocator, CFStringRef URLString, CFURLRef baseURL);
// The URL's string form (owned by the URL).
CFStringRef CFURLGetString(CFURLRef anURL);
// The unescaped path without a trailing "/" (except for "/"); NULL for a URL that is
// not a file URL.
CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle);
// The URL's path exactly as written, still percent-escaped.
CFStringRef CFURLCopyPath(CFURLRef anURL);
// The last path component, unescaped ("/a/b/" -> "b", "/" -> "/").
CFStringRef CFURLCopyLastPathComponent(CFURLRef anURL);
// "/a/b" -> "/a/", "/a/" -> "/", "/" -> "/../" as the original does.
CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef allocator, CFURLRef url);
// "/a/" + "b" -> "/a/b" (isDirectory: "/a/b/").
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef allocator, CFURLRef url,
                                               CFStringRef pathComponent, Boolean isDirectory);
CFURLRef CFURLCopyAbsoluteURL(CFURLRef relativeURL);
Boolean CFURLHasDirectoryPath(CFURLRef anURL);
// The scheme ("file"); NULL when there is none.
CFStringRef CFURLCopyScheme(CFURLRef anURL);
// The zero-terminated UTF-8 path; false when it does not fit or is not a file URL.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen);

// Objects of other owners (types registered at run time).
#include "platform/CFRuntime.h"

#if __has_include("platform/CFPreferences.h")
#include "platform/CFPreferences.h"
#endif
#if __has_include("platform/CFBundle.h")
#include "platform/CFBundle.h"
#endif
#if __has_include("platform/CFLocale.h")
#include "platform/CFLocale.h"
#endif
#if __has_include("platform/CFDateFormatter.h")
#include "platform/CFDateFormatter.h"
#endif
