// Format, FormatV and AppendFormat of both string classes. The platform's formatting engine
// does the work; what happens here is the preparation of the format (CAtlString reads every
// "%s" as "%S", a 16-bit string), the buffer handling, and leaving the string alone when the
// platform call fails.
#include "platform/CFRef.h"
#include "strings/AtlString.h"

#include <memory>

namespace {

using CFStr = orvik::CFRef<CFStringRef>;

// The formatted text as a platform string, or null when the format cannot be made or the
// engine fails. The 16-bit format has its "%s" directives rewritten to "%S" first; only the
// exact two units are rewritten, so "%5s" keeps its 8-bit meaning and "%%s" becomes "%S".
CFStringRef FormatToCF(const char16_t* format, va_list args) {
    CAtlString prepared(format);
    prepared.Replace(u"%s", u"%S");
    CFStr formatStr(prepared.CreateCFStringRef(kCFAllocatorDefault));
    if (!formatStr)
        return nullptr;
    return CFStringCreateWithFormatAndArguments(kCFAllocatorDefault, nullptr, formatStr.get(),
                                                args);
}

// The 8-bit format is decoded as Mac OS Roman and given to the engine as it is.
CFStringRef FormatToCF(const char* format, va_list args) {
    CFStr formatStr(CFStringCreateWithCString(kCFAllocatorDefault, format ? format : "",
                                              kCFStringEncodingMacRoman));
    if (!formatStr)
        return nullptr;
    return CFStringCreateWithFormatAndArguments(kCFAllocatorDefault, nullptr, formatStr.get(),
                                                args);
}

} // namespace

// ---- CAtlString
// ----------------------------------------------------------------------------------

void CAtlString::FormatV(const char16_t* format, va_list args) {
    CFStr result(FormatToCF(format, args));
    if (!result)
        return;
    int n = int(CFStringGetLength(result.get()));
    // A new private buffer one unit longer than the text (a real buffer even for n = 0); a
    // locked or shared previous buffer is released, never written.
    Data* old = GetData();
    AllocBuffer(n + 1);
    CFStringGetCharacters(result.get(), CFRangeMake(0, n), m_pchData);
    SetLength(n);
    Release(old);
}

void CAtlString::Format(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CAtlString::Format(const unsigned short* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(W(format), args);
    va_end(args);
}

void CAtlString::AppendFormat(const char16_t* format, va_list args) {
    CFStr result(FormatToCF(format, args));
    if (!result)
        return;
    int n = int(CFStringGetLength(result.get()));
    std::unique_ptr<char16_t[]> block(new char16_t[size_t(n) + 1]);
    CFStringGetCharacters(result.get(), CFRangeMake(0, n), block.get());
    ConcatInPlace(n, block.get());
}

void CAtlString::AppendFormatArgs(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormat(format, args);
    va_end(args);
}

// ---- CAtlStringA
// ---------------------------------------------------------------------------------

void CAtlStringA::FormatV(const char* format, va_list args) {
    CFStr result(FormatToCF(format, args));
    if (!result)
        return;
    int n = int(CFStringGetLength(result.get()));
    Data* old = GetData();
    AllocBuffer(n + 1);
    CopyFromCFString(result.get(), m_pchData, n);
    SetLength(n);
    Release(old);
}

void CAtlStringA::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CAtlStringA::AppendFormat(const char* format, va_list args) {
    CFStr result(FormatToCF(format, args));
    if (!result)
        return;
    int n = int(CFStringGetLength(result.get()));
    std::unique_ptr<char[]> block(new char[size_t(n) + 1]);
    CopyFromCFString(result.get(), block.get(), n);
    ConcatInPlace(n, block.get());
}

void CAtlStringA::AppendFormatArgs(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormat(format, args);
    va_end(args);
}
