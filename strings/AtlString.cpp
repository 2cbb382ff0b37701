// CAtlString: construction, assignment, concatenation and platform-string interop of the 16-bit
// string, and its searches, comparisons, substring replacement and case mapping, which the
// platform's Unicode services do.
#include "strings/AtlString.h"

#include "platform/CFRef.h"
#include "platform/TextUtils.h"
#include "strings/UcaString.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Collation options: composition and width insensitive with significant punctuation; the
// case-insensitive variant drops composition and width insensitivity.
constexpr UCCollateOptions kCollateCaseSensitive = kUCCollateComposeInsensitiveMask |
                                                   kUCCollateWidthInsensitiveMask |
                                                   kUCCollatePunctuationSignificantMask; // 0x8006
constexpr UCCollateOptions kCollateCaseInsensitive =
    kUCCollateCaseInsensitiveMask | kUCCollatePunctuationSignificantMask; // 0x8008

// Releases a platform object when the scope ends.
using CFStr = orvik::CFRef<CFStringRef>;

CFStringRef MakeCF(const char16_t* s, int n) {
    return CFStringCreateWithCharacters(kCFAllocatorDefault, n > 0 ? s : &afxChNil, n);
}

// Widens min(strlen(s), n) bytes into dst and zero-fills the rest of the n units.
void WidenInto(char16_t* dst, const char* s, int n) {
    size_t k = strnlen(s, size_t(n));
    CAtoUCA(s, dst, n);
    std::fill(dst + k, dst + n, char16_t(0));
}

// A zero-terminated byte string widened into a temporary block of units (a null s gives an
// empty one), freed when the caller is done.
std::unique_ptr<char16_t[]> Widened(const char* s) {
    return std::unique_ptr<char16_t[]>(makeUCAFromCA(s));
}

} // namespace

// ---- construction ------------------------------------------------------------------------------

// The base starts empty and InitCopy shares the other's record, with the
// reference counting the base's own copy would not do.
CAtlString::CAtlString(const CAtlString& s) : Base() { // NOLINT(bugprone-copy-constructor-init)
    InitCopy(s);
}

CAtlString::CAtlString(const char* s) {
    int n = s ? int(strlen(s)) : 0;
    if (n == 0)
        return;
    AllocBuffer(n);
    WidenInto(m_pchData, s, n);
}

CAtlString::CAtlString(const char* s, int n) {
    if (s == nullptr || n < 1)
        return;
    AllocBuffer(n);
    WidenInto(m_pchData, s, n);
}

CAtlString::CAtlString(char c, int n) : CAtlString(Widen(c), n) {}

CAtlString::CAtlString(char16_t c, int n) {
    if (n <= 0)
        return;
    AllocBuffer(n);
    std::fill(m_pchData, m_pchData + n, c);
}

CAtlString::CAtlString(const char16_t* s) {
    int n = SafeStrlen(s);
    if (n == 0)
        return;
    AllocBuffer(n);
    std::memcpy(m_pchData, s, size_t(n) * sizeof(char16_t));
}

CAtlString::CAtlString(const char16_t* s, int n) {
    if (s == nullptr || n < 1)
        return;
    AllocBuffer(n);
    std::memcpy(m_pchData, s, size_t(n) * sizeof(char16_t));
}

CAtlString::CAtlString(const CAtlStringA& a) {
    int n = a.GetLength();
    if (n == 0)
        return;
    AllocBuffer(n);
    WidenInto(m_pchData, a.GetString(), n);
}

CAtlString::CAtlString(CFStringRef cf) {
    CFIndex n = cf ? CFStringGetLength(cf) : 0;
    if (n <= 0)
        return;
    AllocBuffer(int(n));
    CFStringGetCharacters(cf, CFRangeMake(0, n), m_pchData);
}

// ---- assignment --------------------------------------------------------------------------------

CAtlString& CAtlString::operator=(const CAtlString& s) {
    AssignFrom(s);
    return *this;
}

CAtlString& CAtlString::operator=(const char16_t* s) {
    AssignCopy(SafeStrlen(s), s ? s : &afxChNil);
    return *this;
}

CAtlString& CAtlString::operator=(const char* s) {
    int n = s ? int(strlen(s)) : 0;
    if (n == 0) {
        Empty();
        return *this;
    }
    AllocBeforeWrite(n);
    WidenInto(m_pchData, s, n);
    SetLength(n);
    return *this;
}

CAtlString& CAtlString::operator=(const CAtlStringA& a) {
    int n = a.GetLength();
    AllocBeforeWrite(n);
    WidenInto(m_pchData, a.GetString(), n);
    SetLength(n);
    return *this;
}

CAtlString& CAtlString::operator=(char c) {
    return *this = Widen(c);
}

CAtlString& CAtlString::operator=(char16_t c) {
    AssignCopy(1, &c);
    return *this;
}

CAtlString& CAtlString::operator=(CFStringRef cf) {
    CFIndex n = cf ? CFStringGetLength(cf) : 0;
    if (n <= 0) {
        Empty();
        return *this;
    }
    AllocBeforeWrite(int(n));
    CFStringGetCharacters(cf, CFRangeMake(0, n), m_pchData);
    SetLength(int(n));
    return *this;
}

// ---- buffer ------------------------------------------------------------------------------------

void CAtlString::ReleaseBuffer(int n) {
    CopyBeforeWrite();
    if (n == -1) {
        n = GetLength();
        if (n == 0) {
            int limit = GetAllocLength();
            while (n < limit && m_pchData[n] != 0)
                ++n;
        }
    }
    SetLength(n);
}

// ---- platform strings --------------------------------------------------------------------------

CAtlString::operator CFStringRef() const {
    return CFStringCreateWithCharactersNoCopy(kCFAllocatorDefault, m_pchData, GetLength(),
                                              kCFAllocatorNull);
}

CFStringRef CAtlString::CreateCFStringRef(CFAllocatorRef alloc) const {
    return CFStringCreateWithCharacters(alloc, m_pchData, GetLength());
}

// ---- searching ---------------------------------------------------------------------------------

namespace {

// The first occurrence of sub (subLen units) in hay from start to the end, literal; -1 if none.
int FindUnits(const char16_t* hay, int hayLen, const char16_t* sub, int subLen, int start) {
    if (start < 0)
        start = 0;
    CFStr str(MakeCF(hay, hayLen));
    CFStr find(MakeCF(sub, subLen));
    if (!str || !find)
        return -1;
    CFRange found;
    if (!CFStringFindWithOptions(str.get(), find.get(), CFRangeMake(start, hayLen - start), 0,
                                 &found))
        return -1;
    return int(found.location);
}

} // namespace

int CAtlString::Find(char16_t ch, int start) const {
    if (start >= GetLength())
        return -1;
    return FindUnits(m_pchData, GetLength(), &ch, 1, start);
}

int CAtlString::Find(const char16_t* sub, int start) const {
    if (start > GetLength())
        return -1;
    return FindUnits(m_pchData, GetLength(), sub, SafeStrlen(sub), start);
}

int CAtlString::Find(const char* sub, int start) const {
    return Find(Widened(sub).get(), start);
}

int CAtlString::FindOneOf(const char16_t* set) const {
    CFStr str(MakeCF(m_pchData, GetLength()));
    CFStr setStr(MakeCF(set, SafeStrlen(set)));
    if (!str || !setStr)
        return -1;
    orvik::CFRef<CFCharacterSetRef> chars(
        CFCharacterSetCreateWithCharactersInString(kCFAllocatorDefault, setStr.get()));
    if (!chars)
        return -1;
    CFRange found;
    if (!CFStringFindCharacterFromSet(str.get(), chars.get(), CFRangeMake(0, GetLength()), 0,
                                      &found))
        return -1;
    return int(found.location);
}

int CAtlString::FindOneOf(const char* set) const {
    return FindOneOf(Widened(set).get());
}

int CAtlString::ReverseFind(char16_t ch) const {
    CFStr str(MakeCF(m_pchData, GetLength()));
    CFStr find(MakeCF(&ch, 1));
    if (!str || !find)
        return -1;
    return int(CFStringFind(str.get(), find.get(), kCFCompareBackwards).location);
}

// ---- comparing ---------------------------------------------------------------------------------

int CAtlString::Collate(const CAtlString& s, bool caseSensitive) const {
    CFStr mine(MakeCF(m_pchData, GetLength()));
    CFStr theirs(MakeCF(s.m_pchData, s.GetLength()));
    if (!mine || !theirs)
        return 0;
    return int(CFStringCompare(mine.get(), theirs.get(),
                               caseSensitive ? CFStringCompareFlags(0)
                                             : CFStringCompareFlags(kCFCompareCaseInsensitive)));
}

int CAtlString::Collate(const char16_t* s, bool caseSensitive) const {
    CollatorRef collator = nullptr;
    UCCollateOptions options = caseSensitive ? kCollateCaseSensitive : kCollateCaseInsensitive;
    if (UCCreateCollator(nullptr, 0, options, &collator) != noErr || collator == nullptr)
        return 0;
    Boolean equivalent = false;
    SInt32 order = 0;
    OSStatus status =
        UCCompareText(collator, m_pchData, UniCharCount(GetLength()), s ? s : &afxChNil,
                      UniCharCount(SafeStrlen(s)), &equivalent, &order);
    UCDisposeCollator(&collator);
    if (status != noErr || equivalent)
        return 0;
    return int(order);
}

// ---- editing -----------------------------------------------------------------------------------

int CAtlString::Insert(int i, const char* s) {
    return Insert(i, Widened(s).get());
}

int CAtlString::Replace(const char16_t* oldSub, const char16_t* newSub) {
    orvik::CFRef<CFMutableStringRef> text(CFStringCreateMutable(kCFAllocatorDefault, 0));
    if (!text)
        return 0;
    int oldLength = SafeStrlen(oldSub);
    CFStr find(MakeCF(oldSub, oldLength));
    CFStr replacement(MakeCF(newSub, SafeStrlen(newSub)));
    if (!find || !replacement || oldLength == 0)
        return 0;
    int length = GetLength();
    CFStringAppendCharacters(text.get(), m_pchData, length);
    CFIndex n = CFStringFindAndReplace(text.get(), find.get(), replacement.get(),
                                       CFRangeMake(0, length), 0);
    if (n > 0) {
        Data* old = GetData();
        CFIndex newLength = CFStringGetLength(text.get());
        AllocBuffer(int(newLength));
        CFStringGetCharacters(text.get(), CFRangeMake(0, newLength), m_pchData);
        Release(old);
    }
    return int(n);
}

int CAtlString::Replace(const char* oldSub, const char* newSub) {
    return Replace(Widened(oldSub).get(), Widened(newSub).get());
}

namespace {

// Maps the string's units through the platform's case mapping, keeping the length (a mapping
// that lengthens the text keeps only the first units; one that shortens it shortens the string).
template <class Map> int MapCase(char16_t* units, int length, Map map) {
    orvik::CFRef<CFMutableStringRef> text(CFStringCreateMutable(kCFAllocatorDefault, 0));
    if (!text)
        return length;
    CFStringAppendCharacters(text.get(), units, length);
    map(text.get(), nullptr);
    CFIndex mapped = CFStringGetLength(text.get());
    int kept = mapped < length ? int(mapped) : length;
    CFStringGetCharacters(text.get(), CFRangeMake(0, kept), units);
    return kept;
}

} // namespace

CAtlString& CAtlString::MakeUpper() {
    CopyBeforeWrite();
    int kept = MapCase(m_pchData, GetLength(), CFStringUppercase);
    if (kept != GetLength())
        SetLength(kept);
    return *this;
}

CAtlString& CAtlString::MakeLower() {
    CopyBeforeWrite();
    int kept = MapCase(m_pchData, GetLength(), CFStringLowercase);
    if (kept != GetLength())
        SetLength(kept);
    return *this;
}

CAtlString& CAtlString::TrimLeft(const char* set) {
    return TrimSet(Widened(set).get(), true);
}

CAtlString& CAtlString::TrimRight(const char* set) {
    return TrimSet(Widened(set).get(), false);
}

CAtlString CAtlString::Tokenize(const char* delims, int& start) const {
    return TokenizeImpl(Widened(delims).get(), start);
}

// ---- concatenation -----------------------------------------------------------------------------

CAtlString& CAtlString::operator+=(const CAtlString& s) {
    ConcatInPlace(s.GetLength(), s.m_pchData);
    return *this;
}

CAtlString& CAtlString::operator+=(const char16_t* s) {
    ConcatInPlace(SafeStrlen(s), s);
    return *this;
}

CAtlString& CAtlString::operator+=(char16_t c) {
    ConcatInPlace(1, &c);
    return *this;
}

CAtlString& CAtlString::operator+=(const char* s) {
    ConcatInPlace(s ? int(strlen(s)) : 0, s);
    return *this;
}

CAtlString& CAtlString::operator+=(char c) {
    ConcatInPlace(1, &c);
    return *this;
}

CAtlString& CAtlString::Append(const char16_t* s, int n) {
    if (s != nullptr)
        ConcatInPlace(n, s);
    return *this;
}

CAtlString& CAtlString::Append(const char* s, int n) {
    if (s != nullptr)
        ConcatInPlace(n, s);
    return *this;
}

CAtlString operator+(const CAtlString& a, const CAtlString& b) {
    CAtlString out;
    out.ConcatCopy(a.GetLength(), a.m_pchData, b.GetLength(), b.m_pchData);
    return out;
}

CAtlString operator+(const CAtlString& a, char16_t b) {
    CAtlString out;
    out.ConcatCopy(a.GetLength(), a.m_pchData, 1, &b);
    return out;
}

CAtlString operator+(char16_t a, const CAtlString& b) {
    CAtlString out;
    out.ConcatCopy(1, &a, b.GetLength(), b.m_pchData);
    return out;
}

CAtlString operator+(const CAtlString& a, char b) {
    CAtlString out;
    out.ConcatCopy(a.GetLength(), a.m_pchData, 1, &b);
    return out;
}

CAtlString operator+(char a, const CAtlString& b) {
    CAtlString out;
    out.ConcatCopy(1, &a, b.GetLength(), b.m_pchData);
    return out;
}

CAtlString operator+(const CAtlString& a, const char16_t* b) {
    CAtlString out;
    out.ConcatCopy(a.GetLength(), a.m_pchData, CAtlString::SafeStrlen(b), b);
    return out;
}

CAtlString operator+(const char16_t* a, const CAtlString& b) {
    CAtlString out;
    out.ConcatCopy(CAtlString::SafeStrlen(a), a, b.GetLength(), b.m_pchData);
    return out;
}

CAtlString operator+(const CAtlString& a, const char* b) {
    return a + Widened(b).get();
}

CAtlString operator+(const char* a, const CAtlString& b) {
    return Widened(a).get() + b;
}
