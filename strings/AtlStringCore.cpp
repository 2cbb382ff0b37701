// What CAtlString and CAtlStringA share: the buffer record and its reference counting, the empty
// records, copy on write, cutting, unit-level editing, trimming and tokenizing.
#include "strings/AtlString.h"

#include "platform/CFRef.h"
#include "strings/UcaString.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <pthread.h>
#include <type_traits>

CAtlStringInitData<char16_t> _afxInitData = {{-1, 0, 0}, 0};
CAtlStringInitData<char> _afxInitDataA = {{-1, 0, 0}, 0};
const char16_t afxChNil = 0;
const char afxChANil = 0;

// The record's character pointer is the only field of a string object, so its address can
// stand for an empty string object that needs no construction.
const CAtlString& AfxGetEmptyString() {
    return *reinterpret_cast<const CAtlString*>(&_afxPchNil);
}
const CAtlStringA& AfxGetEmptyStringA() {
    return *reinterpret_cast<const CAtlStringA*>(&_afxPchANil);
}

namespace {

bool IsTrimSpace(unsigned c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20;
}

// Copies n units, widening bytes to 16-bit units where the source is 8-bit.
template <class Ch, class U> void CopyUnits(Ch* dst, const U* src, int n) {
    if (n <= 0)
        return;
    if constexpr (std::is_same_v<Ch, U>) {
        std::memmove(dst, src, size_t(n) * sizeof(Ch));
    } else {
        static_assert(std::is_same_v<U, char>, "only bytes widen");
        for (int i = 0; i < n; ++i)
            dst[i] = Ch(static_cast<unsigned char>(src[i]));
    }
}

// Whether p points into the units of [begin, begin + n] (the terminator included).
template <class Ch, class U> bool PointsInto(const U* p, const Ch* begin, int n) {
    if constexpr (!std::is_same_v<Ch, U>) {
        return false;
    } else {
        std::less_equal<const Ch*> le;
        return p != nullptr && le(begin, p) && le(p, begin + n);
    }
}

// Most buffers are short and short-lived (a format's temporary, its result replacing the last
// one, path pieces): each thread keeps a few freed blocks of two sizes, so that such a buffer
// costs no trip through the allocator. A block's size follows from its allocLength, which
// never changes, so it goes back to the right list from any thread. Under the address checker
// every block goes back to the allocator, so that a use after release is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPoolBlocks = false;
#else
constexpr bool kPoolBlocks = true;
#endif
#else
constexpr bool kPoolBlocks = true;
#endif
constexpr size_t kBlockClassBytes[] = {64, 256};
constexpr int kBlockClasses = 2;
constexpr int kBlockPoolDepth = 8;

// Strings may outlive every object a thread set up, so the pool is plain thread storage that is
// never destroyed: statics released at exit and thread-locals destroyed in any order still find
// it. A pool opens on its thread's first allocation of a pooled size and registers a key whose
// destructor empties and closes it when the thread ends; POSIX runs key destructors after the
// thread-local objects, and a closed pool hands blocks straight back to the allocator. The
// thread that ends the program runs no key destructor: its few pooled blocks go with the
// process.
enum class PoolState : int { Unopened, Open, Closed };

struct BlockPool {
    void* blocks[kBlockClasses][kBlockPoolDepth];
    int count[kBlockClasses];
    PoolState state;
};
constinit thread_local BlockPool tBlocks{};

void ClosePool(void* p) {
    BlockPool& pool = *static_cast<BlockPool*>(p);
    pool.state = PoolState::Closed;
    for (int c = 0; c < kBlockClasses; ++c)
        while (pool.count[c] > 0)
            ::operator delete(pool.blocks[c][--pool.count[c]]);
}

// Out of line: it runs once per thread.
__attribute__((noinline)) void OpenPool(BlockPool& pool) {
    static pthread_key_t key;
    static const bool haveKey = pthread_key_create(&key, ClosePool) == 0;
    bool open = haveKey && pthread_setspecific(key, &pool) == 0;
    // Without a key the pool could not be emptied when the thread ends: it stays unused.
    pool.state = open ? PoolState::Open : PoolState::Closed;
}

// The pooled size class holding `bytes`, or -1 for blocks the allocator serves directly.
inline int BlockClass(size_t bytes) {
    static_assert(kBlockClasses == 2);
    if (!kPoolBlocks)
        return -1;
    return bytes <= kBlockClassBytes[0] ? 0 : bytes <= kBlockClassBytes[1] ? 1 : -1;
}

// Inlined into the buffer record's few allocating and freeing members: a pooled block then
// costs a handful of instructions.
__attribute__((always_inline)) inline void* AllocateBlock(size_t bytes) {
    int c = BlockClass(bytes);
    if (c < 0)
        return ::operator new(bytes);
    BlockPool& pool = tBlocks;
    if (pool.count[c] > 0)
        return pool.blocks[c][--pool.count[c]];
    if (pool.state == PoolState::Unopened)
        OpenPool(pool);
    return ::operator new(kBlockClassBytes[c]);
}

__attribute__((always_inline)) inline void FreeBlock(void* block, size_t bytes) {
    int c = BlockClass(bytes);
    if (c >= 0) {
        BlockPool& pool = tBlocks;
        if (pool.state == PoolState::Open && pool.count[c] < kBlockPoolDepth) {
            pool.blocks[c][pool.count[c]++] = block;
            return;
        }
    }
    ::operator delete(block);
}

} // namespace

// ---- the record
// ------------------------------------------------------------------------------------

template <class Ch, class Str> int CAtlStringT<Ch, Str>::SafeStrlen(const Ch* s) {
    if (s == nullptr)
        return 0;
    if constexpr (std::is_same_v<Ch, char>)
        return int(std::strlen(s));
    else
        return int(ucalen(s));
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::AllocBuffer(int n) {
    if (n <= 0) {
        Init();
        return;
    }
    void* block = AllocateBlock(sizeof(Data) + (size_t(n) + 1) * sizeof(Ch));
    Data* data = static_cast<Data*>(block);
    data->refCount = 1;
    data->dataLength = n;
    data->allocLength = n;
    data->data()[n] = 0;
    m_pchData = data->data();
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::FreeData(Data* data) {
    if (data != nullptr && data != NilData())
        FreeBlock(data, sizeof(Data) + (size_t(data->allocLength) + 1) * sizeof(Ch));
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::Release(Data* data) {
    if (data == nullptr || data == NilData())
        return;
    if (--data->refCount <= 0)
        FreeData(data);
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::Release() {
    Release(GetData());
    Init();
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::SetLength(int n) {
    if (IsNil())
        return;
    GetData()->dataLength = n;
    m_pchData[n] = 0;
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::AllocBeforeWrite(int n) {
    Data* data = GetData();
    if (data->refCount <= 1 && n <= data->allocLength)
        return;
    Release();
    AllocBuffer(n);
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::CopyBeforeWrite() {
    Data* old = GetData();
    if (old->refCount <= 1)
        return;
    Release(); // still alive: the other holders keep it
    AllocBuffer(old->dataLength);
    CopyUnits(m_pchData, old->data(), old->dataLength);
    SetLength(old->dataLength);
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::AssignCopy(int n, const Ch* src) {
    if (n < 0)
        n = 0;
    AllocBeforeWrite(n);
    CopyUnits(m_pchData, src, n); // memmove: src may lie in the kept buffer
    SetLength(n);
}

template <class Ch, class Str>
void CAtlStringT<Ch, Str>::AllocCopy(Str& dest, int copyLen, int copyIndex, int extraLen) const {
    int total = copyLen + extraLen;
    if (total == 0) {
        dest.Init();
        return;
    }
    dest.AllocBuffer(total);
    CopyUnits(dest.m_pchData, m_pchData + copyIndex, copyLen);
}

template <class Ch, class Str>
template <class A, class B>
void CAtlStringT<Ch, Str>::ConcatCopy(int len1, const A* src1, int len2, const B* src2) {
    int total = len1 + len2;
    if (total == 0)
        return;
    AllocBuffer(total);
    CopyUnits(m_pchData, src1, len1);
    CopyUnits(m_pchData + len1, src2, len2);
}

template <class Ch, class Str>
template <class U>
void CAtlStringT<Ch, Str>::ConcatInPlace(int n, const U* src) {
    if (n <= 0)
        return;
    Data* old = GetData();
    if (old->refCount <= 1 && old->dataLength + n <= old->allocLength) {
        CopyUnits(m_pchData + old->dataLength, src, n);
        SetLength(old->dataLength + n);
        return;
    }
    // The source may lie in the old buffer: it is copied before the old buffer goes.
    ConcatCopy(old->dataLength, old->data(), n, src);
    Release(old);
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::InitCopy(const CAtlStringT& s) {
    Data* data = s.GetData();
    if (data->refCount >= 0) {
        m_pchData = s.m_pchData;
        ++data->refCount;
    } else {
        AssignCopy(SafeStrlen(s.m_pchData), s.m_pchData);
    }
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::AssignFrom(const CAtlStringT& s) {
    if (m_pchData == s.m_pchData)
        return;
    Data* mine = GetData();
    Data* theirs = s.GetData();
    if ((mine->refCount < 0 && !IsNil()) || theirs->refCount < 0) {
        AssignCopy(theirs->dataLength, s.m_pchData);
        return;
    }
    Release();
    m_pchData = s.m_pchData;
    ++theirs->refCount;
}

// ---- buffer access
// ---------------------------------------------------------------------------------

template <class Ch, class Str> Ch* CAtlStringT<Ch, Str>::GetBuffer(int n) {
    Data* old = GetData();
    if (old->refCount <= 1 && n <= old->allocLength)
        return m_pchData;
    AllocBuffer(std::max(n, old->dataLength));
    CopyUnits(m_pchData, old->data(), old->dataLength);
    SetLength(old->dataLength);
    Release(old);
    return m_pchData;
}

template <class Ch, class Str> Ch* CAtlStringT<Ch, Str>::GetBufferSetLength(int n) {
    GetBuffer(n);
    SetLength(n);
    return m_pchData;
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::Truncate(int n) {
    GetBuffer(n);
    static_cast<Str*>(this)->ReleaseBuffer(n);
}

template <class Ch, class Str> Ch* CAtlStringT<Ch, Str>::LockBuffer() {
    Ch* p = GetBuffer(0);
    if (!IsNil())
        GetData()->refCount = -1;
    return p;
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::UnlockBuffer() {
    if (!IsNil())
        GetData()->refCount = 1;
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::FreeExtra() {
    Data* old = GetData();
    if (old->dataLength == old->allocLength)
        return;
    AllocBuffer(old->dataLength);
    CopyUnits(m_pchData, old->data(), old->dataLength);
    Release(old);
}

template <class Ch, class Str> void CAtlStringT<Ch, Str>::Empty() {
    Data* data = GetData();
    if (data->dataLength == 0)
        return;
    if (data->refCount >= 0)
        Release();
    else
        AssignCopy(0, &NilChars()[0]);
}

template <class Ch, class Str> bool CAtlStringT<Ch, Str>::LoadString(unsigned int) {
    return false;
}

// ---- cutting
// ---------------------------------------------------------------------------------------

template <class Ch, class Str> Str CAtlStringT<Ch, Str>::Mid(int first, int count) const {
    int length = GetLength();
    if (first < 0)
        first = 0;
    if (count < 0)
        count = 0;
    if (first > length)
        count = 0;
    else if (int64_t(first) + count > length)
        count = length - first;
    if (first == 0 && count == length)
        return static_cast<const Str&>(*this);
    Str dest;
    AllocCopy(dest, count, first, 0);
    return dest;
}

template <class Ch, class Str> Str CAtlStringT<Ch, Str>::Mid(int first) const {
    return Mid(first, GetLength() - first);
}

template <class Ch, class Str> Str CAtlStringT<Ch, Str>::Left(int count) const {
    if (count < 0)
        count = 0;
    if (count >= GetLength())
        return static_cast<const Str&>(*this);
    Str dest;
    AllocCopy(dest, count, 0, 0);
    return dest;
}

template <class Ch, class Str> Str CAtlStringT<Ch, Str>::Right(int count) const {
    if (count < 0)
        count = 0;
    if (count >= GetLength())
        return static_cast<const Str&>(*this);
    Str dest;
    AllocCopy(dest, count, GetLength() - count, 0);
    return dest;
}

// ---- editing
// ---------------------------------------------------------------------------------------

template <class Ch, class Str> int CAtlStringT<Ch, Str>::SetAt(int i, Ch ch) {
    CopyBeforeWrite();
    m_pchData[i] = ch;
    return i;
}

template <class Ch, class Str> int CAtlStringT<Ch, Str>::Replace(Ch oldCh, Ch newCh) {
    if (oldCh == newCh)
        return 0;
    CopyBeforeWrite();
    int count = 0;
    for (int i = 0, n = GetLength(); i < n; ++i) {
        if (m_pchData[i] == oldCh) {
            m_pchData[i] = newCh;
            ++count;
        }
    }
    return count;
}

template <class Ch, class Str> int CAtlStringT<Ch, Str>::Remove(Ch ch) {
    CopyBeforeWrite();
    int length = GetLength();
    int kept = 0;
    for (int i = 0; i < length; ++i) {
        if (m_pchData[i] != ch)
            m_pchData[kept++] = m_pchData[i];
    }
    SetLength(kept);
    return length - kept;
}

template <class Ch, class Str> int CAtlStringT<Ch, Str>::Delete(int i, int count) {
    if (i < 0)
        i = 0;
    int length = GetLength();
    if (i < length && count > 0) {
        CopyBeforeWrite();
        if (count > length - i)
            count = length - i;
        CopyUnits(m_pchData + i, m_pchData + i + count, length - (i + count) + 1);
        GetData()->dataLength = length - count;
    }
    return length;
}

template <class Ch, class Str> int CAtlStringT<Ch, Str>::Insert(int i, Ch ch) {
    return InsertUnits(i, &ch, 1);
}

template <class Ch, class Str> int CAtlStringT<Ch, Str>::Insert(int i, const Ch* s) {
    int n = SafeStrlen(s);
    if (n < 1)
        return GetLength();
    return InsertUnits(i, s, n);
}

template <class Ch, class Str> int CAtlStringT<Ch, Str>::InsertUnits(int i, const Ch* s, int n) {
    CAtlStringT copy; // s might point into this string's own buffer
    if (PointsInto(s, m_pchData, GetAllocLength())) {
        copy.AssignCopy(n, s);
        s = copy.m_pchData;
    }
    CopyBeforeWrite();
    int length = GetLength();
    i = std::clamp(i, 0, length);
    Data* old = GetData();
    if (length + n > old->allocLength) {
        AllocBuffer(length + n);
        CopyUnits(m_pchData, old->data(), i);
        CopyUnits(m_pchData + i + n, old->data() + i, length - i + 1);
        Release(old);
    } else {
        CopyUnits(m_pchData + i + n, m_pchData + i, length - i + 1);
    }
    CopyUnits(m_pchData + i, s, n);
    GetData()->dataLength = length + n;
    return length + n;
}

template <class Ch, class Str> Str& CAtlStringT<Ch, Str>::MakeReverse() {
    CopyBeforeWrite();
    int n = SafeStrlen(m_pchData);
    std::reverse(m_pchData, m_pchData + n);
    return static_cast<Str&>(*this);
}

// ---- trimming
// --------------------------------------------------------------------------------------

template <class Ch, class Str> Str& CAtlStringT<Ch, Str>::TrimLeft() {
    CopyBeforeWrite();
    const Ch* p = m_pchData;
    while (*p != 0 && IsTrimSpace(static_cast<std::make_unsigned_t<Ch>>(*p)))
        ++p;
    int cut = int(p - m_pchData);
    if (cut > 0) {
        int length = GetLength() - cut;
        CopyUnits(m_pchData, m_pchData + cut, length + 1);
        GetData()->dataLength = length;
    }
    return static_cast<Str&>(*this);
}

template <class Ch, class Str> Str& CAtlStringT<Ch, Str>::TrimRight() {
    CopyBeforeWrite();
    int length = GetLength();
    int run = -1;
    for (int i = 0; i < length; ++i) {
        bool space = IsTrimSpace(static_cast<std::make_unsigned_t<Ch>>(m_pchData[i]));
        if (!space)
            run = -1;
        else if (run < 0)
            run = i;
    }
    if (run >= 0)
        SetLength(run);
    return static_cast<Str&>(*this);
}

template <class Ch, class Str> Str& CAtlStringT<Ch, Str>::Trim() {
    TrimLeft();
    return TrimRight();
}

template <class Ch, class Str> Str& CAtlStringT<Ch, Str>::TrimLeft(Ch ch) {
    CopyBeforeWrite();
    if (ch == 0)
        return static_cast<Str&>(*this);
    const Ch* p = m_pchData;
    while (*p == ch)
        ++p;
    int cut = int(p - m_pchData);
    if (cut > 0) {
        int length = GetLength() - cut;
        CopyUnits(m_pchData, m_pchData + cut, length + 1);
        GetData()->dataLength = length;
    }
    return static_cast<Str&>(*this);
}

template <class Ch, class Str> Str& CAtlStringT<Ch, Str>::TrimRight(Ch ch) {
    CopyBeforeWrite();
    if (ch == 0)
        return static_cast<Str&>(*this);
    int length = GetLength();
    int run = -1;
    for (int i = 0; i < length; ++i) {
        if (m_pchData[i] != ch)
            run = -1;
        else if (run < 0)
            run = i;
    }
    if (run >= 0)
        SetLength(run);
    return static_cast<Str&>(*this);
}

// Where a trim by a set cuts: the length of the leading run of set members
// (left), or where the trailing run starts; -1 when nothing is cut.
inline int TrimCut(CFStringRef str, CFCharacterSetRef chars, int length, bool left) {
    CFRange found;
    int cut = -1;
    if (left) {
        for (int pos = 0; pos < length; ++pos) {
            if (!CFStringFindCharacterFromSet(str, chars, CFRangeMake(pos, length - pos),
                                              kCFCompareAnchored, &found))
                break;
            cut = int(found.location) + 1;
        }
        return cut;
    }
    for (int end = length; end > 0; --end) {
        if (!CFStringFindCharacterFromSet(str, chars, CFRangeMake(0, end), kCFCompareBackwards,
                                          &found) ||
            found.location != end - 1)
            break;
        cut = end - 1;
    }
    return cut;
}

template <class Ch, class Str> Str& CAtlStringT<Ch, Str>::TrimSet(const Ch* set, bool left) {
    Str& self = static_cast<Str&>(*this);
    int setLength = SafeStrlen(set);
    if (setLength == 0)
        return self;
    int length = GetLength();
    const orvik::CFRef<CFStringRef> str(MakeCFString(m_pchData, length));
    const orvik::CFRef<CFStringRef> setStr(MakeCFString(set, setLength));
    const orvik::CFRef<CFCharacterSetRef> chars(
        setStr ? CFCharacterSetCreateWithCharactersInString(kCFAllocatorDefault, setStr.get())
               : nullptr);
    const int cut = str && chars ? TrimCut(str.get(), chars.get(), length, left) : -1;
    if (cut < 0)
        return self;
    CopyBeforeWrite();
    if (left) {
        CopyUnits(m_pchData, m_pchData + cut, length - cut + 1);
        GetData()->dataLength = length - cut;
    } else {
        SetLength(cut);
    }
    return self;
}

// ---- tokenizing
// ------------------------------------------------------------------------------------

template <class Ch, class Str>
Str CAtlStringT<Ch, Str>::TokenizeImpl(const Ch* delims, int& start) const {
    if (start >= GetLength()) {
        start = -1;
        return Str();
    }
    Str rest = Mid(start);
    int r0 = rest.GetLength();
    rest.TrimLeft(delims);
    int r1 = rest.GetLength();
    int k = rest.FindOneOf(delims);
    if (k == -1) {
        start = -1;
        return rest;
    }
    start += (r0 - r1) + k;
    Str tail = rest.Mid(k);
    int t0 = tail.GetLength();
    tail.TrimLeft(delims);
    int t1 = tail.GetLength();
    if (t1 >= 1)
        start += t0 - t1;
    else
        start = -1;
    return rest.Mid(0, k);
}

// ---- platform strings
// ------------------------------------------------------------------------------

template <class Ch, class Str> CFStringRef CAtlStringT<Ch, Str>::MakeCFString(const Ch* s, int n) {
    if (n <= 0)
        s = NilChars();
    if constexpr (sizeof(Ch) == 1) {
        return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(s), n,
                                       kCFStringEncodingMacRoman, false);
    } else {
        return CFStringCreateWithCharacters(kCFAllocatorDefault, s, n);
    }
}

template class CAtlStringT<char16_t, CAtlString>;
template class CAtlStringT<char, CAtlStringA>;

// The mixed-width copies the two classes use.
template void CAtlStringT<char16_t, CAtlString>::ConcatCopy(int, const char16_t*, int,
                                                            const char16_t*);
template void CAtlStringT<char16_t, CAtlString>::ConcatCopy(int, const char16_t*, int, const char*);
template void CAtlStringT<char16_t, CAtlString>::ConcatCopy(int, const char*, int, const char16_t*);
template void CAtlStringT<char16_t, CAtlString>::ConcatCopy(int, const char*, int, const char*);
template void CAtlStringT<char, CAtlStringA>::ConcatCopy(int, const char*, int, const char*);
template void CAtlStringT<char16_t, CAtlString>::ConcatInPlace(int, const char16_t*);
template void CAtlStringT<char16_t, CAtlString>::ConcatInPlace(int, const char*);
template void CAtlStringT<char, CAtlStringA>::ConcatInPlace(int, const char*);
