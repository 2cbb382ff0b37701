// The numeric value at the start of a string: CFStringGetIntValue and
// CFStringGetDoubleValue.
#include "platform/cf/CFInternal.h"

#include <charconv>
#include <climits>
#include <string>

using namespace orvik::cf;

namespace {

bool isSpaceUnit(UniChar c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0xA0;
}

} // namespace

SInt32 CFStringGetIntValue(CFStringRef str) {
    if (!isString(str))
        return 0;
    const UniChar* p = str->chars;
    const UniChar* end = p + str->length;
    while (p < end && isSpaceUnit(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+'))
        negative = (*p++ == '-');
    int64_t value = 0;
    bool any = false;
    while (p < end && *p >= '0' && *p <= '9') {
        any = true;
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1; // saturate, keep reading digits
    }
    if (!any)
        return 0;
    if (negative)
        return static_cast<SInt32>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<SInt32>(value);
}

double CFStringGetDoubleValue(CFStringRef str) {
    if (!isString(str))
        return 0.0;
    const UniChar* p = str->chars;
    const UniChar* end = p + str->length;
    while (p < end && isSpaceUnit(*p))
        ++p;
    // Collect [sign] digits [. digits] [e [sign] digits] as ASCII, then convert without
    // any locale (from_chars).
    std::string text;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+'))
        negative = (*p++ == '-');
    auto digits = [&] {
        size_t before = text.size();
        while (p < end && *p >= '0' && *p <= '9')
            text.push_back(static_cast<char>(*p++));
        return text.size() - before;
    };
    size_t mantissa = digits();
    if (p < end && *p == '.') {
        text.push_back('.');
        ++p;
        mantissa += digits();
    }
    if (mantissa == 0)
        return 0.0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const UniChar* save = p;
        std::string::size_type mark = text.size();
        text.push_back('e');
        ++p;
        if (p < end && (*p == '-' || *p == '+'))
            text.push_back(static_cast<char>(*p++));
        if (digits() == 0) {
            text.resize(mark);
            p = save;
        }
    }
    double v = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return negative ? -v : v;
}
