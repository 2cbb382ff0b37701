// The platform-backed half of the UCA string functions: collation, search,
// number parsing, formatting and scanning, and the WCA32 conversions. The
// templates in the header reduce both unit types to char16_t and call these.
#include "strings/UcaString.h"

#include <cwchar>

#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"
#include "platform/TextUtils.h"
#include "strings/ConvertUTF.h"

namespace {

// A platform string over the caller's units, without copying them; null when
// it cannot be made. The caller releases it before the units change.
CFStringRef borrowUnits(const char16_t* s) {
    return CFStringCreateWithCharactersNoCopy(kCFAllocatorDefault, s,
                                              static_cast<CFIndex>(ucalen(s)), kCFAllocatorNull);
}

// The formatted platform string, or null when the format or the result
// cannot be made. The caller releases it.
CFStringRef formatToString(const char16_t* fmt, va_list args) {
    if (fmt == nullptr)
        return nullptr;
    const orvik::CFRef<CFStringRef> format(
        CFStringCreateWithCharacters(kCFAllocatorDefault, fmt, static_cast<CFIndex>(ucalen(fmt))));
    if (!format)
        return nullptr;
    return CFStringCreateWithFormatAndArguments(kCFAllocatorDefault, nullptr, format.get(), args);
}

} // namespace

int ucaCollate(const char16_t* a, size_t na, const char16_t* b, size_t nb, uint32_t options) {
    Boolean equivalent = false;
    SInt32 order = 0;
    OSStatus status =
        UCCompareTextDefault(options, a ? a : u"", na, b ? b : u"", nb, &equivalent, &order);
    if (status != noErr || equivalent)
        return 0;
    return order;
}

const char16_t* ucaFind(const char16_t* hay, const char16_t* needle) {
    if (needle == nullptr || needle[0] == 0)
        return hay;
    if (hay == nullptr)
        return nullptr;
    const orvik::CFRef<CFStringRef> h(borrowUnits(hay));
    const orvik::CFRef<CFStringRef> n(borrowUnits(needle));
    if (!h || !n)
        return nullptr;
    const CFRange r = CFStringFind(h.get(), n.get(), 0);
    return r.location != kCFNotFound ? hay + r.location : nullptr;
}

int ucaToInt(const char16_t* s) {
    if (s == nullptr)
        return 0;
    const orvik::CFRef<CFStringRef> str(borrowUnits(s));
    return str ? CFStringGetIntValue(str.get()) : 0;
}

double ucaToDouble(const char16_t* s) {
    if (s == nullptr)
        return 0.0;
    const orvik::CFRef<CFStringRef> str(borrowUnits(s));
    return str ? CFStringGetDoubleValue(str.get()) : 0.0;
}

char16_t* ucaFormat(const char16_t* fmt, va_list args, size_t* count) {
    const orvik::CFRef<CFStringRef> result(formatToString(fmt, args));
    if (!result)
        return nullptr;
    CFIndex n = CFStringGetLength(result.get());
    char16_t* out = new char16_t[n + 1];
    CFStringGetCharacters(result.get(), CFRangeMake(0, n), out);
    out[n] = 0;
    if (count != nullptr)
        *count = static_cast<size_t>(n);
    return out;
}

int ucaWriteFormatted(FILE* stream, const char16_t* fmt, va_list args) {
    if (stream == nullptr)
        return -1;
    size_t n = 0;
    char16_t* units = ucaFormat(fmt, args, &n);
    if (units == nullptr)
        return -1;
    size_t written = fwrite(units, sizeof(char16_t), n, stream);
    delete[] units;
    return static_cast<int>(written);
}

int ucaFormatInto(char16_t* dst, const char16_t* fmt, va_list args) {
    if (dst == nullptr)
        return -1;
    const orvik::CFRef<CFStringRef> result(formatToString(fmt, args));
    if (!result)
        return -1;
    CFIndex n = CFStringGetLength(result.get());
    CFStringGetCharacters(result.get(), CFRangeMake(0, n), dst);
    dst[n] = 0;
    return static_cast<int>(n);
}

int ucaFormatIntoSized(char16_t* dst, size_t size, const char16_t* fmt, va_list args) {
    if (dst == nullptr || size < 1)
        return -1;
    const orvik::CFRef<CFStringRef> result(formatToString(fmt, args));
    if (!result)
        return -1;
    size_t n = static_cast<size_t>(CFStringGetLength(result.get()));
    size_t k = n < size - 1 ? n : size - 1;
    CFStringGetCharacters(result.get(), CFRangeMake(0, static_cast<CFIndex>(k)), dst);
    dst[k] = 0;
    return static_cast<int>(size);
}

int ucaScan(const char16_t* src, const char16_t* fmt, va_list args) {
    // glibc always provides vswscanf, so the "not available" branch of other
    // C libraries has no counterpart here.
    wchar_t* src32 = makeWCA32FromUCA16(src);
    wchar_t* fmt32 = makeWCA32FromUCA16(fmt);
    int result = vswscanf(src32, fmt32, args);
    freeWCA32Str(src32);
    freeWCA32Str(fmt32);
    return result;
}

int WCA32toUCA16(const wchar_t* src, char16_t* dst, int n) {
    if (n < 1)
        return n;
    const UTF32* s = reinterpret_cast<const UTF32*>(src);
    UTF16* t = dst;
    return ConvertUTF32toUTF16(&s, s + n, &t, t + n, strictConversion);
}

int UCA16toWCA32(const char16_t* src, wchar_t* dst, int n) {
    if (n < 1)
        return n;
    const UTF16* s = src;
    UTF32* t = reinterpret_cast<UTF32*>(dst);
    return ConvertUTF16toUTF32(&s, s + n, &t, t + n, strictConversion);
}

size_t ucaConvertFromWCA32(const wchar_t* src, size_t n, char16_t* dst, size_t room) {
    if (src == nullptr || n == 0)
        return 0;
    const UTF32* s = reinterpret_cast<const UTF32*>(src);
    UTF16* t = dst;
    ConvertUTF32toUTF16(&s, s + n, &t, dst + room, strictConversion);
    return static_cast<size_t>(t - dst);
}

wchar_t* makeWCA32FromUCA16(const char16_t* s) {
    size_t n = s ? ucalen(s) : 0;
    wchar_t* out = new wchar_t[n + 1];
    UTF32* t = reinterpret_cast<UTF32*>(out);
    if (n > 0) {
        const UTF16* src = s;
        ConvertUTF16toUTF32(&src, s + n, &t, t + n, strictConversion);
    }
    *t = 0;
    return out;
}
