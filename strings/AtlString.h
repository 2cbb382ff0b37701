// CAtlString (16-bit UTF-16 units, char16_t) and CAtlStringA (8-bit bytes): reference-counted,
// copy-on-write strings with exact-fit buffers.
//
// Contract, once for both classes:
// - An object holds one pointer to its characters. In front of them lies the header record
//   {refCount, dataLength, allocLength}; after them a zero unit at index dataLength. Header and
//   characters are one heap block of header + (allocLength + 1) units.
// - refCount: 1 private, 2 or more shared, -1 locked. Copies share a buffer whose refCount is
//   0 or more and copy the characters of a locked one. A buffer is freed when a release leaves
//   its count at 0 or below (a locked buffer by its first release). Writing copies a shared
//   buffer first (copy on write).
// - Every empty string that owns no buffer points at one static record (refCount -1, lengths
//   0, then a zero unit): _afxInitData for CAtlString, _afxInitDataA for CAtlStringA. Such a
//   string is "nil"; the record is never freed, counted or written.
// - Buffers grow to exactly the size needed (appending in a loop reallocates each time the
//   capacity is exceeded; GetBuffer(n) reserves ahead). Formatting allocates one unit more.
// - Null pointers are empty strings; counts below 1 are empty. Search results are unit indices,
//   -1 when nothing is found. Failures are results, never exceptions, except std::bad_alloc.
// - 8-bit and 16-bit text convert unit by unit as ISO 8859-1: a byte widens to the unit of the
//   same value; a unit narrows to its byte below 256 and to '?' from 256 up. CAtlStringA
//   converts to and from platform strings as Mac OS Roman.
// - Every member that takes char16_t or a char16_t string exists for unsigned short alike in
//   CAtlString; members taking char or char strings widen them first.
// - Single-threaded: counts are plain integers.
//
// Example: CAtlString a(u"abc"); CAtlString b = a;   // shared, a.GetData()->refCount == 2
//          b += u'd';                                  // b private "abcd" (allocLength 4)
#pragma once

#include "platform/CoreFoundation.h"

#include <compare>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <new>

// ---- the header record and the shared empty records --------------------------------------------

template <class Ch> struct CAtlStringDataT {
    int32_t refCount;    // sharers; 1 private; -1 locked (and the empty record)
    int32_t dataLength;  // units in the string, without the terminator
    int32_t allocLength; // units the buffer holds, without the terminator
    Ch* data() { return reinterpret_cast<Ch*>(this + 1); }
};
using CAtlStringData = CAtlStringDataT<char16_t>;
using CAtlStringAData = CAtlStringDataT<char>;

// The empty record: a header immediately followed by its zero unit.
template <class Ch> struct CAtlStringInitData {
    CAtlStringDataT<Ch> header;
    Ch nil;
};
static_assert(offsetof(CAtlStringInitData<char16_t>, nil) == sizeof(CAtlStringData));
static_assert(offsetof(CAtlStringInitData<char>, nil) == sizeof(CAtlStringAData));

extern CAtlStringInitData<char16_t> _afxInitData; // {-1, 0, 0}, u'\0'
extern CAtlStringInitData<char> _afxInitDataA;    // {-1, 0, 0}, '\0'
inline constexpr CAtlStringData* _afxDataNil = &_afxInitData.header;
inline constexpr char16_t* _afxPchNil = &_afxInitData.nil;
inline constexpr CAtlStringAData* _afxDataANil = &_afxInitDataA.header;
inline constexpr char* _afxPchANil = &_afxInitDataA.nil;
extern const char16_t afxChNil; // the empty source string
extern const char afxChANil;

class CAtlString;
class CAtlStringA;

// A static empty string: the address of _afxPchNil read as a string object.
const CAtlString& AfxGetEmptyString();
const CAtlStringA& AfxGetEmptyStringA();

// ---- what both classes share -------------------------------------------------------------------

// Ch is the character unit, Str the concrete class (returned by Mid, Left, Right, Tokenize).
template <class Ch, class Str> class CAtlStringT {
public:
    using Data = CAtlStringDataT<Ch>;

    // The header record in front of the characters.
    Data* GetData() const { return reinterpret_cast<Data*>(m_pchData) - 1; }
    int GetLength() const { return GetData()->dataLength; }
    int GetAllocLength() const { return GetData()->allocLength; }
    bool IsEmpty() const { return GetData()->dataLength == 0; }

    // The zero-terminated characters, valid until the string changes or dies.
    const Ch* GetString() const { return m_pchData; }
    operator const Ch*() const { return m_pchData; }
    // The character pointer as it is (no copy on write, no reservation).
    Ch* GetBuffer() { return m_pchData; }
    // No range check: 0 <= i <= GetLength() (index GetLength() is the terminator).
    Ch GetAt(int i) const { return m_pchData[i]; }
    Ch operator[](int i) const { return m_pchData[i]; }

    // 0 for null, else the units before the first zero.
    static int SafeStrlen(const Ch* s);

    // A private buffer with room for n units (contents and length kept).
    Ch* GetBuffer(int n);
    // GetBuffer(n), then length n with a terminator at n.
    Ch* GetBufferSetLength(int n);
    // GetBuffer(n) then ReleaseBuffer(n); n <= GetLength().
    void Truncate(int n);
    // Makes the buffer private and locked (refCount -1): copies never share it.
    Ch* LockBuffer();
    // refCount back to 1 (not for nil).
    void UnlockBuffer();
    // Shrinks the buffer to exactly the length (length 0 becomes nil).
    void FreeExtra();
    // Length 0: unlocked strings become nil; a locked buffer stays, locked, with length 0.
    void Empty();

    // Cutting: a result equal to the whole string shares the buffer. "abcde".Mid(2, 100) ==
    // "cde"; Mid(-3, 2) == "ab"; Mid(7, 1) is nil; Left(-1) is nil; Right(10) == "abcde".
    Str Mid(int first, int count) const;
    Str Mid(int first) const;
    Str Left(int count) const;
    Str Right(int count) const;

    // Editing; each copies on write first.
    int SetAt(int i, Ch ch);          // returns i; no range check
    int Replace(Ch oldCh, Ch newCh);  // number replaced; 0 without copying when equal
    int Remove(Ch ch);                // number removed
    int Delete(int i, int count = 1); // "abcd".Delete(1, 2) -> "ad", returns 4
    int Insert(int i, Ch ch);         // i clamped to 0..length; returns the new length
    int Insert(int i, const Ch* s);   // nothing for null or empty s; returns the new length
    Str& MakeReverse();               // reverses the units before the first zero

    // Whitespace is 0x09..0x0D and 0x20 only; a zero ch trims nothing.
    Str& TrimLeft();
    Str& TrimRight();
    Str& Trim();
    Str& TrimLeft(Ch ch);
    Str& TrimRight(Ch ch);

    // Translated texts come from the resource manager: this loads nothing.
    bool LoadString(unsigned int id);

protected:
    CAtlStringT() : m_pchData(NilChars()) {}
    ~CAtlStringT() { Release(GetData()); }

    static Data* NilData() { return reinterpret_cast<Data*>(NilChars()) - 1; }
    static Ch* NilChars() {
        if constexpr (sizeof(Ch) == 1)
            return _afxPchANil;
        else
            return _afxPchNil;
    }
    bool IsNil() const { return m_pchData == NilChars(); }

    void Init() { m_pchData = NilChars(); }
    // n <= 0: nil; else a new private buffer of exactly n units (the old pointer is
    // overwritten, not released).
    void AllocBuffer(int n);
    static void FreeData(Data* data);
    void Release();
    static void Release(Data* data);
    void AllocBeforeWrite(int n);
    void CopyBeforeWrite();
    void AssignCopy(int n, const Ch* src);
    void AllocCopy(Str& dest, int copyLen, int copyIndex, int extraLen) const;
    template <class A, class B> void ConcatCopy(int len1, const A* src1, int len2, const B* src2);
    template <class U> void ConcatInPlace(int n, const U* src);
    // Inserts n units of s at i (clamped), growing to exactly the new length when needed.
    int InsertUnits(int i, const Ch* s, int n);
    // Sets the length and writes the terminator; the empty record is left untouched.
    void SetLength(int n);
    // Copy construction and assignment from another string of this class.
    void InitCopy(const CAtlStringT& s);
    void AssignFrom(const CAtlStringT& s);
    // The platform string of n units (Mac OS Roman bytes for the 8-bit class).
    static CFStringRef MakeCFString(const Ch* s, int n);
    // Trims the leading (left) or trailing run of units that are in set.
    Str& TrimSet(const Ch* set, bool left);
    // The next token after start; start advances, or becomes -1 after the last token.
    Str TokenizeImpl(const Ch* delims, int& start) const;

    Ch* m_pchData;

    template <class, class> friend class CAtlStringT;
    friend class CAtlString;
    friend class CAtlStringA;
};

// ---- CAtlString
// ----------------------------------------------------------------------------------

class CAtlString : public CAtlStringT<char16_t, CAtlString> {
    using Base = CAtlStringT<char16_t, CAtlString>;
    friend Base;

public:
    CAtlString() = default;
    // Shares s's buffer unless it is locked (then copies up to the first zero unit).
    CAtlString(const CAtlString& s);
    CAtlString(const char* s);        // each byte widened
    CAtlString(const char* s, int n); // n <= strlen(s)
    CAtlString(char c, int n);        // n copies of c widened
    CAtlString(char16_t c, int n);    // n copies of c
    CAtlString(unsigned short c, int n) : CAtlString(char16_t(c), n) {}
    CAtlString(const char16_t* s); // up to the first zero
    CAtlString(const unsigned short* s) : CAtlString(W(s)) {}
    CAtlString(const char16_t* s, int n); // exactly n units
    CAtlString(const unsigned short* s, int n) : CAtlString(W(s), n) {}
    CAtlString(const CAtlStringA& a); // bytes widened
    CAtlString(CFStringRef cf);       // a copy of cf's units
    ~CAtlString() = default;

    CAtlString& operator=(const CAtlString& s);
    CAtlString& operator=(const char16_t* s);
    CAtlString& operator=(const unsigned short* s) { return *this = W(s); }
    CAtlString& operator=(const char* s);
    CAtlString& operator=(const CAtlStringA& a);
    CAtlString& operator=(char c);
    CAtlString& operator=(char16_t c);
    CAtlString& operator=(unsigned short c) { return *this = char16_t(c); }
    CAtlString& operator=(CFStringRef cf);

    using Base::operator const char16_t*;
    operator const unsigned short*() const {
        return reinterpret_cast<const unsigned short*>(m_pchData);
    }
    // A platform string over this string's own characters (no copy, never frees them): the
    // caller releases it before this string changes or dies.
    operator CFStringRef() const;
    // A platform string holding a copy of the characters; the caller releases it.
    CFStringRef CreateCFStringRef(CFAllocatorRef alloc = kCFAllocatorDefault) const;

    // For n = -1 a recorded non-zero length stays; a zero length becomes the units before the
    // first zero (at most allocLength). Any other n becomes the length.
    void ReleaseBuffer(int n = -1);

    // ---- searching (literal, case-sensitive; -1 when not found)
    int Find(char16_t ch, int start) const;
    int Find(char16_t ch) const { return Find(ch, 0); }
    int Find(unsigned short ch, int start) const { return Find(char16_t(ch), start); }
    int Find(unsigned short ch) const { return Find(char16_t(ch), 0); }
    int Find(char ch, int start) const { return Find(Widen(ch), start); }
    int Find(char ch) const { return Find(Widen(ch), 0); }
    int Find(const char16_t* sub, int start) const;
    int Find(const char16_t* sub) const { return Find(sub, 0); }
    int Find(const unsigned short* sub, int start) const { return Find(W(sub), start); }
    int Find(const unsigned short* sub) const { return Find(W(sub), 0); }
    int Find(const char* sub, int start) const;
    int Find(const char* sub) const { return Find(sub, 0); }
    int Find(const CAtlString& sub, int start) const { return Find(sub.m_pchData, start); }
    int Find(const CAtlString& sub) const { return Find(sub.m_pchData, 0); }
    int FindOneOf(const char16_t* set) const;
    int FindOneOf(const unsigned short* set) const { return FindOneOf(W(set)); }
    int FindOneOf(const char* set) const;
    int FindOneOf(const CAtlString& set) const { return FindOneOf(set.m_pchData); }
    int ReverseFind(char16_t ch) const;
    int ReverseFind(unsigned short ch) const { return ReverseFind(char16_t(ch)); }
    int ReverseFind(char ch) const { return ReverseFind(Widen(ch)); }

    // ---- comparing: with a CAtlString by code units (-1, 0, 1); with a zero-terminated string
    // by the platform collation (0 for equivalent, else its negative or positive order).
    int Compare(const CAtlString& s) const { return Collate(s, true); }
    int CompareNoCase(const CAtlString& s) const { return Collate(s, false); }
    int CollateNoCase(const CAtlString& s) const { return Collate(s, false); }
    int Collate(const CAtlString& s, bool caseSensitive) const;
    int Compare(const char16_t* s) const { return Collate(s, true); }
    int CompareNoCase(const char16_t* s) const { return Collate(s, false); }
    int CollateNoCase(const char16_t* s) const { return Collate(s, false); }
    int Collate(const char16_t* s, bool caseSensitive) const;
    int Compare(const unsigned short* s) const { return Collate(W(s), true); }
    int CompareNoCase(const unsigned short* s) const { return Collate(W(s), false); }
    int CollateNoCase(const unsigned short* s) const { return Collate(W(s), false); }
    int Collate(const unsigned short* s, bool caseSensitive) const {
        return Collate(W(s), caseSensitive);
    }

    // ---- editing
    using Base::Insert;
    using Base::Remove;
    using Base::Replace;
    using Base::SetAt;
    int SetAt(int i, unsigned short ch) { return SetAt(i, char16_t(ch)); }
    int SetAt(int i, char ch) { return SetAt(i, Widen(ch)); }
    int Replace(unsigned short o, unsigned short n) { return Replace(char16_t(o), char16_t(n)); }
    int Replace(char o, char n) { return Replace(Widen(o), Widen(n)); }
    int Remove(unsigned short ch) { return Remove(char16_t(ch)); }
    int Remove(char ch) { return Remove(Widen(ch)); }
    int Insert(int i, unsigned short ch) { return Insert(i, char16_t(ch)); }
    int Insert(int i, char ch) { return Insert(i, Widen(ch)); }
    int Insert(int i, const unsigned short* s) { return Insert(i, W(s)); }
    int Insert(int i, const char* s);
    // Replaces every non-overlapping occurrence of oldSub, left to right; the number replaced.
    int Replace(const char16_t* oldSub, const char16_t* newSub);
    int Replace(const unsigned short* o, const unsigned short* n) { return Replace(W(o), W(n)); }
    int Replace(const char* oldSub, const char* newSub);
    // Root-locale case mapping; the length never changes ("straße" upper -> "STRAS").
    CAtlString& MakeUpper();
    CAtlString& MakeLower();

    // ---- trimming by a set of units (null or empty set: nothing)
    using Base::TrimLeft;
    using Base::TrimRight;
    CAtlString& TrimLeft(unsigned short ch) { return TrimLeft(char16_t(ch)); }
    CAtlString& TrimLeft(char ch) { return TrimLeft(Widen(ch)); }
    CAtlString& TrimRight(unsigned short ch) { return TrimRight(char16_t(ch)); }
    CAtlString& TrimRight(char ch) { return TrimRight(Widen(ch)); }
    CAtlString& TrimLeft(const char16_t* set) { return TrimSet(set, true); }
    CAtlString& TrimLeft(const unsigned short* set) { return TrimSet(W(set), true); }
    CAtlString& TrimLeft(const CAtlString& set) { return TrimSet(set.m_pchData, true); }
    CAtlString& TrimLeft(const char* set);
    CAtlString& TrimRight(const char16_t* set) { return TrimSet(set, false); }
    CAtlString& TrimRight(const unsigned short* set) { return TrimSet(W(set), false); }
    CAtlString& TrimRight(const CAtlString& set) { return TrimSet(set.m_pchData, false); }
    CAtlString& TrimRight(const char* set);

    // ---- tokenizing: "  ab  cd " by u" " from 0 gives "ab" (start 6), then "cd" (start -1).
    CAtlString Tokenize(const char16_t* delims, int& start) const {
        return TokenizeImpl(delims, start);
    }
    CAtlString Tokenize(const unsigned short* delims, int& start) const {
        return TokenizeImpl(W(delims), start);
    }
    CAtlString Tokenize(const char* delims, int& start) const;

    // ---- concatenation in place
    CAtlString& operator+=(const CAtlString& s);
    CAtlString& operator+=(const char16_t* s);
    CAtlString& operator+=(const unsigned short* s) { return *this += W(s); }
    CAtlString& operator+=(char16_t c);
    CAtlString& operator+=(unsigned short c) { return *this += char16_t(c); }
    CAtlString& operator+=(const char* s);
    CAtlString& operator+=(char c);
    CAtlString& Append(const CAtlString& s) { return *this += s; }
    CAtlString& Append(const char16_t* s) { return *this += s; }
    CAtlString& Append(const unsigned short* s) { return *this += W(s); }
    CAtlString& Append(const char16_t* s, int n); // exactly n units
    CAtlString& Append(const unsigned short* s, int n) { return Append(W(s), n); }
    CAtlString& Append(const char* s) { return *this += s; }
    CAtlString& Append(const char* s, int n); // exactly n bytes widened

    // ---- formatting (the platform engine; every "%s" of the format is read as "%S", a
    // 16-bit string). On failure Format leaves the string and AppendFormat appends nothing.
    void FormatV(const char16_t* format, va_list args);
    void FormatV(const unsigned short* format, va_list args) { FormatV(W(format), args); }
    void Format(const char16_t* format, ...);
    void Format(const unsigned short* format, ...);
    void AppendFormat(const char16_t* format, va_list args);
    void AppendFormat(const unsigned short* format, va_list args) { AppendFormat(W(format), args); }
    // A template so that a literal 0 argument is never taken for a va_list.
    template <class... Args> void AppendFormat(const char16_t* format, Args... args) {
        AppendFormatArgs(format, args...);
    }
    template <class... Args> void AppendFormat(const unsigned short* format, Args... args) {
        AppendFormatArgs(W(format), args...);
    }

    static const char16_t* W(const unsigned short* s) {
        return reinterpret_cast<const char16_t*>(s);
    }
    static char16_t Widen(char c) { return char16_t(static_cast<unsigned char>(c)); }

private:
    void AppendFormatArgs(const char16_t* format, ...);

    friend CAtlString operator+(const CAtlString&, const CAtlString&);
    friend CAtlString operator+(const CAtlString&, char16_t);
    friend CAtlString operator+(char16_t, const CAtlString&);
    friend CAtlString operator+(const CAtlString&, char);
    friend CAtlString operator+(char, const CAtlString&);
    friend CAtlString operator+(const CAtlString&, const char16_t*);
    friend CAtlString operator+(const char16_t*, const CAtlString&);
    friend CAtlString operator+(const CAtlString&, const char*);
    friend CAtlString operator+(const char*, const CAtlString&);
};

// ---- CAtlStringA
// ---------------------------------------------------------------------------------

class CAtlStringA : public CAtlStringT<char, CAtlStringA> {
    using Base = CAtlStringT<char, CAtlStringA>;
    friend Base;

public:
    CAtlStringA() = default;
    // Shares a's buffer unless it is locked (then copies up to the first zero byte).
    CAtlStringA(const CAtlStringA& a);
    CAtlStringA(const char* s);            // strlen(s) bytes
    CAtlStringA(const char* s, int n);     // exactly n bytes
    CAtlStringA(char c, int n);            // n copies of c
    CAtlStringA(char16_t c, int n);        // n copies of c narrowed
    CAtlStringA(const char16_t* s);        // the units narrowed (below 256, else '?')
    CAtlStringA(const char16_t* s, int n); // the first n units narrowed
    CAtlStringA(const CAtlString& s);      // s's characters up to the first zero, narrowed
    CAtlStringA(CFStringRef cf);           // cf in Mac OS Roman
    ~CAtlStringA() = default;

    CAtlStringA& operator=(const CAtlStringA& a);
    CAtlStringA& operator=(const char* s);
    CAtlStringA& operator=(char c);
    CAtlStringA& operator=(const char16_t* s);
    CAtlStringA& operator=(const CAtlString& s);
    CAtlStringA& operator=(char16_t c);
    CAtlStringA& operator=(CFStringRef cf);

    // The bytes widened into a CAtlString.
    explicit operator CAtlString() const;
    // A platform string decoded from the bytes as Mac OS Roman; the caller releases it.
    CFStringRef CreateCFStringRef(CFAllocatorRef alloc = kCFAllocatorDefault) const;

    // For n = -1 the length becomes the bytes before the first zero (at most allocLength),
    // whatever was recorded; any other n becomes the length.
    void ReleaseBuffer(int n = -1);

    // ---- comparing: both sides as platform strings, CFStringCompare: -1, 0, 1.
    int Collate(const CAtlStringA& s, bool caseSensitive) const;
    int Collate(const char* s, bool caseSensitive) const;
    int Collate(const char16_t* s, bool caseSensitive) const;
    int Compare(const CAtlStringA& s) const { return Collate(s, true); }
    int Compare(const char* s) const { return Collate(s, true); }
    int Compare(const char16_t* s) const { return Collate(s, true); }
    int CompareNoCase(const CAtlStringA& s) const { return Collate(s, false); }
    int CompareNoCase(const char* s) const { return Collate(s, false); }
    int CompareNoCase(const char16_t* s) const { return Collate(s, false); }
    int CollateNoCase(const CAtlStringA& s) const { return Collate(s, false); }
    int CollateNoCase(const char* s) const { return Collate(s, false); }
    int CollateNoCase(const char16_t* s) const { return Collate(s, false); }

    // ---- searching bytes (-1 when not found; an empty sub is found at start)
    int Find(char c) const { return Find(c, 0); }
    int Find(char c, int start) const;
    int Find(const char* sub, int start) const;
    int Find(const char* sub) const { return Find(sub, 0); }
    int Find(const CAtlStringA& sub) const { return Find(sub.m_pchData, 0); }
    int Find(const CAtlStringA& sub, int start) const { return Find(sub.m_pchData, start); }
    int FindOneOf(const char* set) const;
    int FindOneOf(const CAtlStringA& set) const { return FindOneOf(set.m_pchData); }
    int ReverseFind(char c) const;
    // Left(n) for the leading run of bytes in set / not in set: "abcab" with "ab" -> "ab".
    CAtlStringA SpanIncluding(const char* set) const;
    CAtlStringA SpanExcluding(const char* set) const;

    // ---- editing
    using Base::Replace;
    // Replaces every occurrence of oldSub; the number replaced (0 when it cannot).
    int Replace(const char* oldSub, const char* newSub);
    // ASCII letters only ("C" locale); bytes 0x80..0xFF stay.
    CAtlStringA& MakeUpper();
    CAtlStringA& MakeLower();
    using Base::TrimLeft;
    using Base::TrimRight;
    CAtlStringA& TrimLeft(const char* set) { return TrimSet(set, true); }
    CAtlStringA& TrimRight(const char* set) { return TrimSet(set, false); }

    // ---- tokenizing (wide delimiters are narrowed first)
    CAtlStringA Tokenize(const char* delims, int& start) const {
        return TokenizeImpl(delims, start);
    }
    CAtlStringA Tokenize(const char16_t* delims, int& start) const;

    // ---- concatenation in place
    CAtlStringA& operator+=(const CAtlStringA& a);
    CAtlStringA& operator+=(const char* s);
    CAtlStringA& operator+=(char c);
    CAtlStringA& operator+=(const char16_t* s); // narrowed; an empty s appends nothing
    CAtlStringA& operator+=(char16_t c);        // one narrowed byte
    CAtlStringA& Append(const CAtlStringA& a) { return *this += a; }
    CAtlStringA& Append(const char* s) { return *this += s; }
    CAtlStringA& Append(const char* s, int n); // exactly n bytes

    // ---- formatting (the platform engine, Mac OS Roman; "%s" is an 8-bit string in the
    // system encoding, "%S" a 16-bit string). Bytes the result cannot hold become '?'.
    void FormatV(const char* format, va_list args);
    void Format(const char* format, ...);
    void AppendFormat(const char* format, va_list args);
    template <class... Args> void AppendFormat(const char* format, Args... args) {
        AppendFormatArgs(format, args...);
    }

    // The unit narrowed to one byte: below 256 its value, else '?'.
    static char Narrow(char16_t c) { return c < 0x100 ? char(c) : '?'; }

private:
    void AppendFormatArgs(const char* format, ...);
    // Fills n bytes at dst from cf in Mac OS Roman ('?' for what it lacks).
    static void CopyFromCFString(CFStringRef cf, char* dst, int n);

    friend CAtlStringA operator+(const CAtlStringA&, const CAtlStringA&);
    friend CAtlStringA operator+(const CAtlStringA&, char);
    friend CAtlStringA operator+(char, const CAtlStringA&);
    friend CAtlStringA operator+(const CAtlStringA&, const char*);
    friend CAtlStringA operator+(const char*, const CAtlStringA&);
    friend CAtlStringA operator+(const CAtlStringA&, char16_t);
    friend CAtlStringA operator+(char16_t, const CAtlStringA&);
    friend CAtlStringA operator+(const CAtlStringA&, const CAtlString&);
    friend CAtlStringA operator+(const CAtlString&, const CAtlStringA&);
    friend CAtlStringA operator+(const CAtlStringA&, const char16_t*);
    friend CAtlStringA operator+(const char16_t*, const CAtlStringA&);
};

extern template class CAtlStringT<char16_t, CAtlString>;
extern template class CAtlStringT<char, CAtlStringA>;

// ---- concatenation: one exact-fit buffer for both operands (two empty operands give nil) ----

CAtlString operator+(const CAtlString& a, const CAtlString& b);
CAtlString operator+(const CAtlString& a, char16_t b);
CAtlString operator+(char16_t a, const CAtlString& b);
inline CAtlString operator+(const CAtlString& a, unsigned short b) {
    return a + char16_t(b);
}
inline CAtlString operator+(unsigned short a, const CAtlString& b) {
    return char16_t(a) + b;
}
CAtlString operator+(const CAtlString& a, char b);
CAtlString operator+(char a, const CAtlString& b);
CAtlString operator+(const CAtlString& a, const char16_t* b);
CAtlString operator+(const char16_t* a, const CAtlString& b);
inline CAtlString operator+(const CAtlString& a, const unsigned short* b) {
    return a + CAtlString::W(b);
}
inline CAtlString operator+(const unsigned short* a, const CAtlString& b) {
    return CAtlString::W(a) + b;
}
CAtlString operator+(const CAtlString& a, const char* b);
CAtlString operator+(const char* a, const CAtlString& b);

CAtlStringA operator+(const CAtlStringA& a, const CAtlStringA& b);
CAtlStringA operator+(const CAtlStringA& a, char b);
CAtlStringA operator+(char a, const CAtlStringA& b);
CAtlStringA operator+(const CAtlStringA& a, const char* b);
CAtlStringA operator+(const char* a, const CAtlStringA& b);
CAtlStringA operator+(const CAtlStringA& a, char16_t b);
CAtlStringA operator+(char16_t a, const CAtlStringA& b);
// The CAtlString is narrowed; an empty one yields a copy of the other operand.
CAtlStringA operator+(const CAtlStringA& a, const CAtlString& b);
CAtlStringA operator+(const CAtlString& a, const CAtlStringA& b);
CAtlStringA operator+(const CAtlStringA& a, const char16_t* b);
CAtlStringA operator+(const char16_t* a, const CAtlStringA& b);

// ---- relational operators, all case-sensitive. With the string on the right the comparison is
// made from the string's side and its sense inverted (p < s holds when s orders after p).

namespace orvik::atl {
inline std::weak_ordering Order(int c) {
    return c < 0 ? std::weak_ordering::less
                 : (c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent);
}
} // namespace orvik::atl

// CAtlString with CAtlString: code-unit order (Compare).
inline bool operator==(const CAtlString& a, const CAtlString& b) {
    return a.Compare(b) == 0;
}
inline std::weak_ordering operator<=>(const CAtlString& a, const CAtlString& b) {
    return orvik::atl::Order(a.Compare(b));
}
// CAtlString with a zero-terminated 16-bit string: the platform collation (Collate(p, true)).
inline bool operator==(const CAtlString& a, const char16_t* b) {
    return a.Collate(b, true) == 0;
}
inline std::weak_ordering operator<=>(const CAtlString& a, const char16_t* b) {
    return orvik::atl::Order(a.Collate(b, true));
}
inline bool operator==(const CAtlString& a, const unsigned short* b) {
    return a.Collate(b, true) == 0;
}
inline std::weak_ordering operator<=>(const CAtlString& a, const unsigned short* b) {
    return orvik::atl::Order(a.Collate(b, true));
}
// None with 8-bit text: deleted, so that the text is not quietly widened into a CAtlString and
// compared by code units.
bool operator==(const CAtlString& a, const char* b) = delete;
std::weak_ordering operator<=>(const CAtlString& a, const char* b) = delete;

// CAtlStringA with anything: CFStringCompare of both sides (Collate(x, true)).
inline bool operator==(const CAtlStringA& a, const CAtlStringA& b) {
    return a.Collate(b, true) == 0;
}
inline std::weak_ordering operator<=>(const CAtlStringA& a, const CAtlStringA& b) {
    return orvik::atl::Order(a.Collate(b, true));
}
inline bool operator==(const CAtlStringA& a, const char* b) {
    return a.Collate(b, true) == 0;
}
inline std::weak_ordering operator<=>(const CAtlStringA& a, const char* b) {
    return orvik::atl::Order(a.Collate(b, true));
}
// This pair has no ">" in either order.
bool operator>(const CAtlStringA& a, const char* b) = delete;
bool operator>(const char* a, const CAtlStringA& b) = delete;
inline bool operator==(const CAtlStringA& a, const char16_t* b) {
    return a.Collate(b, true) == 0;
}
inline std::weak_ordering operator<=>(const CAtlStringA& a, const char16_t* b) {
    return orvik::atl::Order(a.Collate(b, true));
}
// The 8-bit class has no unsigned short twins: deleted, so that both sides are not quietly made
// CAtlStrings and compared by code units.
bool operator==(const CAtlStringA& a, const unsigned short* b) = delete;
std::weak_ordering operator<=>(const CAtlStringA& a, const unsigned short* b) = delete;

// ---- element helpers for the array containers
// ----------------------------------------------------

// Sets n objects of raw storage to nil.
inline void ConstructElements(CAtlString* p, int n) {
    for (int i = 0; i < n; ++i)
        new (p + i) CAtlString();
}
inline void DestructElements(CAtlString* p, int n) {
    for (int i = 0; i < n; ++i)
        p[i].~CAtlString();
}
inline void CopyElements(CAtlString* dst, const CAtlString* src, int n) {
    for (int i = 0; i < n; ++i)
        dst[i] = src[i];
}
inline void ConstructElements(CAtlStringA* p, int n) {
    for (int i = 0; i < n; ++i)
        new (p + i) CAtlStringA();
}
inline void DestructElements(CAtlStringA* p, int n) {
    for (int i = 0; i < n; ++i)
        p[i].~CAtlStringA();
}
inline void CopyElements(CAtlStringA* dst, const CAtlStringA* src, int n) {
    for (int i = 0; i < n; ++i)
        dst[i] = src[i];
}
