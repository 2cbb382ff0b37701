// CAtlStringA: the 8-bit twin. Its own rules: narrowing of 16-bit text ('?' from 256 up), Mac
// OS Roman towards platform strings, byte-loop searches, "C"-locale case mapping, comparisons
// through CFStringCompare only, and ReleaseBuffer(-1) measuring up to the first zero byte.
#include "strings/AtlString.h"

#include "platform/CFRef.h"
#include "strings/UcaString.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace {

using CFStr = orvik::CFRef<CFStringRef>;

// 16-bit text narrowed into a temporary block of bytes (null for an empty or null s).
std::unique_ptr<char[]> Narrowed(const char16_t* s) {
    return std::unique_ptr<char[]>(s ? makeCAFromUCA(s) : nullptr);
}

CFStringRef MakeCF(const char* s) {
    return CFStringCreateWithCString(kCFAllocatorDefault, s ? s : &afxChANil,
                                     kCFStringEncodingMacRoman);
}

CFStringRef MakeCF(const char16_t* s) {
    int n = s ? int(ucalen(s)) : 0;
    return CFStringCreateWithCharacters(kCFAllocatorDefault, n ? s : &afxChNil, n);
}

} // namespace

// ---- construction ------------------------------------------------------------------------------

// The base starts empty and InitCopy shares the other's record, with the
// reference counting the base's own copy would not do.
CAtlStringA::CAtlStringA(const CAtlStringA& a) : Base() { // NOLINT(bugprone-copy-constructor-init)
    InitCopy(a);
}

CAtlStringA::CAtlStringA(const char* s) {
    int n = SafeStrlen(s);
    if (n == 0)
        return;
    AllocBuffer(n);
    std::memcpy(m_pchData, s, size_t(n));
}

CAtlStringA::CAtlStringA(const char* s, int n) {
    if (s == nullptr || n < 1)
        return;
    AllocBuffer(n);
    std::memcpy(m_pchData, s, size_t(n));
}

CAtlStringA::CAtlStringA(char c, int n) {
    if (n <= 0)
        return;
    AllocBuffer(n);
    std::memset(m_pchData, c, size_t(n));
}

CAtlStringA::CAtlStringA(char16_t c, int n) : CAtlStringA(Narrow(c), n) {}

CAtlStringA::CAtlStringA(const char16_t* s) {
    int n = s ? int(ucalen(s)) : 0;
    if (n == 0)
        return;
    AllocBuffer(n);
    UCAtoCA(s, m_pchData, n);
}

CAtlStringA::CAtlStringA(const char16_t* s, int n) {
    if (s == nullptr || n <= 0)
        return;
    AllocBuffer(n);
    UCAtoCA(s, m_pchData, n);
}

CAtlStringA::CAtlStringA(const CAtlString& s) {
    *this = s.GetString();
}

CAtlStringA::CAtlStringA(CFStringRef cf) {
    *this = cf;
}

// ---- assignment --------------------------------------------------------------------------------

CAtlStringA& CAtlStringA::operator=(const CAtlStringA& a) {
    AssignFrom(a);
    return *this;
}

CAtlStringA& CAtlStringA::operator=(const char* s) {
    int n = SafeStrlen(s);
    if (n == 0) {
        Empty();
        return *this;
    }
    AssignCopy(n, s);
    return *this;
}

CAtlStringA& CAtlStringA::operator=(char c) {
    AssignCopy(1, &c);
    return *this;
}

CAtlStringA& CAtlStringA::operator=(const char16_t* s) {
    std::unique_ptr<char[]> bytes = Narrowed(s);
    AssignCopy(bytes ? int(std::strlen(bytes.get())) : 0, bytes ? bytes.get() : &afxChANil);
    return *this;
}

CAtlStringA& CAtlStringA::operator=(const CAtlString& s) {
    return *this = s.GetString();
}

CAtlStringA& CAtlStringA::operator=(char16_t c) {
    return *this = Narrow(c);
}

void CAtlStringA::CopyFromCFString(CFStringRef cf, char* dst, int n) {
    const char* direct = CFStringGetCStringPtr(cf, kCFStringEncodingMacRoman);
    if (direct != nullptr) {
        std::memcpy(dst, direct, size_t(n));
        return;
    }
    if (CFStringGetCString(cf, dst, n + 1, kCFStringEncodingMacRoman))
        return;
    // A character Mac OS Roman lacks: the platform's conversion fails; such characters
    // become '?' so that the rest of the text survives.
    CFIndex used = 0;
    CFStringGetBytes(cf, CFRangeMake(0, n), kCFStringEncodingMacRoman, '?', false,
                     reinterpret_cast<UInt8*>(dst), n, &used);
    std::fill(dst + std::clamp<CFIndex>(used, 0, n), dst + n, '?');
}

CAtlStringA& CAtlStringA::operator=(CFStringRef cf) {
    CFIndex n = cf ? CFStringGetLength(cf) : 0;
    if (n <= 0) {
        Empty();
        return *this;
    }
    AllocBeforeWrite(int(n));
    CopyFromCFString(cf, m_pchData, int(n));
    SetLength(int(n));
    return *this;
}

// ---- conversions out ---------------------------------------------------------------------------

CAtlStringA::operator CAtlString() const {
    return CAtlString(*this);
}

CFStringRef CAtlStringA::CreateCFStringRef(CFAllocatorRef alloc) const {
    return CFStringCreateWithCString(alloc, m_pchData, kCFStringEncodingMacRoman);
}

// ---- buffer ------------------------------------------------------------------------------------

void CAtlStringA::ReleaseBuffer(int n) {
    CopyBeforeWrite();
    if (n == -1)
        n = int(strnlen(m_pchData, size_t(GetAllocLength())));
    SetLength(n);
}

// ---- comparing ---------------------------------------------------------------------------------

namespace {

int CompareCF(CFStringRef a, CFStringRef b, bool caseSensitive) {
    if (a == nullptr || b == nullptr)
        return 0;
    return int(CFStringCompare(a, b,
                               caseSensitive ? CFStringCompareFlags(0)
                                             : CFStringCompareFlags(kCFCompareCaseInsensitive)));
}

} // namespace

int CAtlStringA::Collate(const CAtlStringA& s, bool caseSensitive) const {
    return Collate(s.m_pchData, caseSensitive);
}

int CAtlStringA::Collate(const char* s, bool caseSensitive) const {
    CFStr mine(MakeCF(m_pchData));
    CFStr theirs(MakeCF(s));
    return CompareCF(mine.get(), theirs.get(), caseSensitive);
}

int CAtlStringA::Collate(const char16_t* s, bool caseSensitive) const {
    CFStr mine(MakeCF(m_pchData));
    CFStr theirs(MakeCF(s));
    return CompareCF(mine.get(), theirs.get(), caseSensitive);
}

// ---- searching ---------------------------------------------------------------------------------

int CAtlStringA::Find(char c, int start) const {
    int length = GetLength();
    if (start >= length)
        return -1;
    if (start < 0)
        start = 0;
    const void* hit = std::memchr(m_pchData + start, c, size_t(length - start));
    return hit ? int(static_cast<const char*>(hit) - m_pchData) : -1;
}

int CAtlStringA::Find(const char* sub, int start) const {
    if (start >= GetLength())
        return -1;
    if (start < 0)
        start = 0;
    const char* hit = std::strstr(m_pchData + start, sub ? sub : &afxChANil);
    return hit ? int(hit - m_pchData) : -1;
}

int CAtlStringA::FindOneOf(const char* set) const {
    const char* hit = std::strpbrk(m_pchData, set ? set : &afxChANil);
    return hit ? int(hit - m_pchData) : -1;
}

int CAtlStringA::ReverseFind(char c) const {
    for (int i = GetLength() - 1; i >= 0; --i) {
        if (m_pchData[i] == c)
            return i;
    }
    return -1;
}

CAtlStringA CAtlStringA::SpanIncluding(const char* set) const {
    return Left(int(std::strspn(m_pchData, set ? set : &afxChANil)));
}

CAtlStringA CAtlStringA::SpanExcluding(const char* set) const {
    return Left(int(std::strcspn(m_pchData, set ? set : &afxChANil)));
}

// ---- editing -----------------------------------------------------------------------------------

int CAtlStringA::Replace(const char* oldSub, const char* newSub) {
    if (SafeStrlen(oldSub) == 0)
        return 0;
    orvik::CFRef<CFMutableStringRef> text(CFStringCreateMutable(kCFAllocatorDefault, 0));
    CFStr find(MakeCF(oldSub));
    CFStr replacement(MakeCF(newSub));
    if (!text || !find || !replacement)
        return 0;
    CFStringAppendCString(text.get(), m_pchData, kCFStringEncodingMacRoman);
    CFIndex n = CFStringFindAndReplace(text.get(), find.get(), replacement.get(),
                                       CFRangeMake(0, CFStringGetLength(text.get())), 0);
    if (n > 0) {
        Data* old = GetData();
        int newLength = int(CFStringGetLength(text.get()));
        AllocBuffer(newLength + 1);
        CopyFromCFString(text.get(), m_pchData, newLength);
        SetLength(newLength);
        Release(old);
    }
    return int(n);
}

CAtlStringA& CAtlStringA::MakeUpper() {
    CopyBeforeWrite();
    for (int i = 0, n = GetLength(); i < n; ++i)
        m_pchData[i] = char(std::toupper(static_cast<unsigned char>(m_pchData[i])));
    return *this;
}

CAtlStringA& CAtlStringA::MakeLower() {
    CopyBeforeWrite();
    for (int i = 0, n = GetLength(); i < n; ++i)
        m_pchData[i] = char(std::tolower(static_cast<unsigned char>(m_pchData[i])));
    return *this;
}

CAtlStringA CAtlStringA::Tokenize(const char16_t* delims, int& start) const {
    std::unique_ptr<char[]> narrow = Narrowed(delims);
    return TokenizeImpl(narrow ? narrow.get() : &afxChANil, start);
}

// ---- concatenation -----------------------------------------------------------------------------

CAtlStringA& CAtlStringA::operator+=(const CAtlStringA& a) {
    ConcatInPlace(a.GetLength(), a.m_pchData);
    return *this;
}

CAtlStringA& CAtlStringA::operator+=(const char* s) {
    ConcatInPlace(SafeStrlen(s), s);
    return *this;
}

CAtlStringA& CAtlStringA::operator+=(char c) {
    ConcatInPlace(1, &c);
    return *this;
}

CAtlStringA& CAtlStringA::operator+=(const char16_t* s) {
    std::unique_ptr<char[]> narrow = Narrowed(s);
    if (narrow)
        ConcatInPlace(int(std::strlen(narrow.get())), narrow.get());
    return *this;
}

CAtlStringA& CAtlStringA::operator+=(char16_t c) {
    return *this += Narrow(c);
}

CAtlStringA& CAtlStringA::Append(const char* s, int n) {
    if (s != nullptr)
        ConcatInPlace(n, s);
    return *this;
}

CAtlStringA operator+(const CAtlStringA& a, const CAtlStringA& b) {
    CAtlStringA out;
    out.ConcatCopy(a.GetLength(), a.m_pchData, b.GetLength(), b.m_pchData);
    return out;
}

CAtlStringA operator+(const CAtlStringA& a, char b) {
    CAtlStringA out;
    out.ConcatCopy(a.GetLength(), a.m_pchData, 1, &b);
    return out;
}

CAtlStringA operator+(char a, const CAtlStringA& b) {
    CAtlStringA out;
    out.ConcatCopy(1, &a, b.GetLength(), b.m_pchData);
    return out;
}

CAtlStringA operator+(const CAtlStringA& a, const char* b) {
    CAtlStringA out;
    out.ConcatCopy(a.GetLength(), a.m_pchData, CAtlStringA::SafeStrlen(b), b);
    return out;
}

CAtlStringA operator+(const char* a, const CAtlStringA& b) {
    CAtlStringA out;
    out.ConcatCopy(CAtlStringA::SafeStrlen(a), a, b.GetLength(), b.m_pchData);
    return out;
}

CAtlStringA operator+(const CAtlStringA& a, char16_t b) {
    return a + CAtlStringA::Narrow(b);
}

CAtlStringA operator+(char16_t a, const CAtlStringA& b) {
    return CAtlStringA::Narrow(a) + b;
}

CAtlStringA operator+(const CAtlStringA& a, const char16_t* b) {
    std::unique_ptr<char[]> narrow = Narrowed(b);
    if (!narrow)
        return a;
    return a + narrow.get();
}

CAtlStringA operator+(const char16_t* a, const CAtlStringA& b) {
    std::unique_ptr<char[]> narrow = Narrowed(a);
    if (!narrow)
        return b;
    return narrow.get() + b;
}

CAtlStringA operator+(const CAtlStringA& a, const CAtlString& b) {
    return a + b.GetString();
}

CAtlStringA operator+(const CAtlString& a, const CAtlStringA& b) {
    return a.GetString() + b;
}
