// UTF-8 and 16-bit text through the code-page functions (its header is strings/Utf8String.h).
#include "strings/Utf8String.h"

#include "win32compat/ProcessShims.h"

namespace {

// Decodes s with the code page into a buffer of its length plus ten units
// (UTF-8 never needs more units than bytes) and keeps exactly what was written.
CAtlString decode(CAtlStringA const& s, UINT codePage) {
    int cap = s.GetLength() + 10;
    CAtlString result;
    char16_t* buf = result.GetBuffer(cap);
    int written = MultiByteToWideChar(codePage, 0, s.GetString(), s.GetLength(), buf, cap);
    result.ReleaseBuffer(written);
    return result;
}

} // namespace

CAtlStringA MakeUTF8StringFromUnicodeString(CAtlString const& s) {
    CAtlStringA result;
    int needed =
        WideCharToMultiByte(CP_UTF8, 0, s.GetString(), s.GetLength(), nullptr, 0, nullptr, nullptr);
    char* buf = result.GetBuffer(needed);
    int written = WideCharToMultiByte(CP_UTF8, 0, s.GetString(), s.GetLength(), buf, needed,
                                      nullptr, nullptr);
    result.ReleaseBuffer(written);
    return result;
}

CAtlString MakeWideStringFromUTF8String(CAtlStringA const& s) {
    return decode(s, CP_UTF8);
}

CAtlString MakeWideStringFromASCIIString(CAtlStringA const& s) {
    return decode(s, CP_ACP);
}
