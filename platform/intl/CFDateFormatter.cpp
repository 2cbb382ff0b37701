// Date formatting and parsing over ICU, in the default time zone.
#include "platform/CFDateFormatter.h"

#include "platform/CFLocale.h"
#include "platform/CFRuntime.h"

#include <string>
#include <unicode/udat.h>
#include <vector>

struct __CFDateFormatter {
    CFRuntimeBase base;
    CFLocaleRef locale;
    UDateFormat* icu;
    CFStringRef format;
};

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

void FinalizeFormatter(CFTypeRef cf) {
    auto* formatter = static_cast<__CFDateFormatter*>(const_cast<void*>(cf));
    if (formatter->icu != nullptr)
        udat_close(formatter->icu);
    if (formatter->locale != nullptr)
        CFRelease(formatter->locale);
    if (formatter->format != nullptr)
        CFRelease(formatter->format);
}

const CFRuntimeClass kFormatterClass = {"CFDateFormatter", FinalizeFormatter, nullptr, nullptr,
                                        nullptr};

CFTypeID FormatterTypeID() {
    static const CFTypeID id = _CFRuntimeRegisterClass(&kFormatterClass);
    return id;
}

bool IcuStyle(CFDateFormatterStyle style, UDateFormatStyle* out) {
    switch (style) {
    case kCFDateFormatterNoStyle:
        *out = UDAT_NONE;
        return true;
    case kCFDateFormatterShortStyle:
        *out = UDAT_SHORT;
        return true;
    case kCFDateFormatterMediumStyle:
        *out = UDAT_MEDIUM;
        return true;
    case kCFDateFormatterLongStyle:
        *out = UDAT_LONG;
        return true;
    case kCFDateFormatterFullStyle:
        *out = UDAT_FULL;
        return true;
    default:
        return false;
    }
}

std::u16string Units(CFStringRef string) {
    if (string == nullptr)
        return std::u16string();
    std::u16string units(static_cast<size_t>(CFStringGetLength(string)), u'\0');
    CFStringGetCharacters(string, CFRangeMake(0, static_cast<CFIndex>(units.size())), units.data());
    return units;
}

std::string LocaleName(CFLocaleRef locale) {
    char buffer[160] = {};
    CFStringGetCString(CFLocaleGetIdentifier(locale), buffer, sizeof buffer, kCFStringEncodingUTF8);
    return buffer;
}

// The pattern ICU holds now, as a platform string.
CFStringRef CopyPattern(const UDateFormat* icu) {
    UErrorCode error = U_ZERO_ERROR;
    const int32_t length = udat_toPattern(icu, false, nullptr, 0, &error);
    std::u16string pattern(static_cast<size_t>(length), u'\0');
    error = U_ZERO_ERROR;
    udat_toPattern(icu, false, reinterpret_cast<UChar*>(pattern.data()), length + 0, &error);
    return CFStringCreateWithCharacters(kCFAllocatorDefault, pattern.data(), length);
}

} // namespace

CFTypeID CFDateFormatterGetTypeID(void) {
    return FormatterTypeID();
}

CFDateFormatterRef CFDateFormatterCreate(CFAllocatorRef allocator, CFLocaleRef locale,
                                         CFDateFormatterStyle dateStyle,
                                         CFDateFormatterStyle timeStyle) {
    UDateFormatStyle icuDate, icuTime;
    if (locale == nullptr || !IcuStyle(dateStyle, &icuDate) || !IcuStyle(timeStyle, &icuTime))
        return nullptr;
    UErrorCode error = U_ZERO_ERROR;
    const std::string name = LocaleName(locale);
    UDateFormat* icu;
    if (icuDate == UDAT_NONE && icuTime == UDAT_NONE) {
        // No style at all: an empty pattern until SetFormat gives one.
        icu = udat_open(UDAT_PATTERN, UDAT_PATTERN, name.c_str(), nullptr, -1, u"", 0, &error);
    } else {
        icu = udat_open(icuTime, icuDate, name.c_str(), nullptr, -1, nullptr, -1, &error);
    }
    if (U_FAILURE(error) || icu == nullptr)
        return nullptr;
    udat_setLenient(icu, false);
    auto* formatter = static_cast<__CFDateFormatter*>(const_cast<void*>(
        _CFRuntimeCreateInstance(allocator, FormatterTypeID(), sizeof(__CFDateFormatter))));
    if (formatter == nullptr) {
        udat_close(icu);
        return nullptr;
    }
    formatter->icu = icu;
    formatter->locale = static_cast<CFLocaleRef>(CFRetain(locale));
    formatter->format = CopyPattern(icu);
    return formatter;
}

CFLocaleRef CFDateFormatterGetLocale(CFDateFormatterRef formatter) {
    return formatter != nullptr ? formatter->locale : nullptr;
}

void CFDateFormatterSetFormat(CFDateFormatterRef formatter, CFStringRef formatString) {
    if (formatter == nullptr || formatString == nullptr)
        return;
    const std::u16string pattern = Units(formatString);
    udat_applyPattern(formatter->icu, false, reinterpret_cast<const UChar*>(pattern.data()),
                      static_cast<int32_t>(pattern.size()));
    if (formatter->format != nullptr)
        CFRelease(formatter->format);
    formatter->format = CopyPattern(formatter->icu);
}

CFStringRef CFDateFormatterGetFormat(CFDateFormatterRef formatter) {
    return formatter != nullptr ? formatter->format : nullptr;
}

Boolean CFDateFormatterGetAbsoluteTimeFromString(CFDateFormatterRef formatter, CFStringRef string,
                                                 CFRange* rangep, CFAbsoluteTime* atp) {
    if (formatter == nullptr || string == nullptr)
        return false;
    const std::u16string units = Units(string);
    CFRange range = rangep != nullptr ? *rangep : CFRangeMake(0, CFIndex(units.size()));
    if (range.location < 0 || range.length < 0 ||
        range.location + range.length > static_cast<CFIndex>(units.size()))
        return false;
    const std::u16string part =
        units.substr(static_cast<size_t>(range.location), static_cast<size_t>(range.length));
    int32_t position = 0;
    UErrorCode error = U_ZERO_ERROR;
    const UDate date = udat_parse(formatter->icu, reinterpret_cast<const UChar*>(part.data()),
                                  static_cast<int32_t>(part.size()), &position, &error);
    if (U_FAILURE(error) || position <= 0)
        return false;
    if (rangep == nullptr && position != static_cast<int32_t>(part.size()))
        return false; // the whole string must be a date
    if (rangep != nullptr)
        rangep->length = position;
    if (atp != nullptr)
        *atp = date / kMillisecondsPerSecond - kCFAbsoluteTimeIntervalSince1970;
    return true;
}

CFDateRef CFDateFormatterCreateDateFromString(CFAllocatorRef allocator,
                                              CFDateFormatterRef formatter, CFStringRef string,
                                              CFRange* rangep) {
    CFAbsoluteTime at = 0;
    if (!CFDateFormatterGetAbsoluteTimeFromString(formatter, string, rangep, &at))
        return nullptr;
    return CFDateCreate(allocator, at);
}

CFStringRef CFDateFormatterCreateStringWithAbsoluteTime(CFAllocatorRef allocator,
                                                        CFDateFormatterRef formatter,
                                                        CFAbsoluteTime at) {
    if (formatter == nullptr)
        return nullptr;
    const UDate date = (at + kCFAbsoluteTimeIntervalSince1970) * kMillisecondsPerSecond;
    UErrorCode error = U_ZERO_ERROR;
    const int32_t length = udat_format(formatter->icu, date, nullptr, 0, nullptr, &error);
    if (error != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(error))
        return nullptr;
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    error = U_ZERO_ERROR;
    udat_format(formatter->icu, date, reinterpret_cast<UChar*>(text.data()), length + 1, nullptr,
                &error);
    if (U_FAILURE(error))
        return nullptr;
    return CFStringCreateWithCharacters(allocator, text.data(), length);
}

CFStringRef CFDateFormatterCreateStringWithDate(CFAllocatorRef allocator,
                                                CFDateFormatterRef formatter, CFDateRef date) {
    if (date == nullptr)
        return nullptr;
    return CFDateFormatterCreateStringWithAbsoluteTime(allocator, formatter,
                                                       CFDateGetAbsoluteTime(date));
}
