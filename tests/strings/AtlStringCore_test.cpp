// The buffer record, the empty records, construction, assignment, sharing, locking, buffer
// access, concatenation and platform-string interop of CAtlString (and what CAtlStringA shares).
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(AtlStringCore, EmptyRecordsAreSharedAndNeverCounted) {
    EXPECT_EQ(_afxInitData.header.refCount, -1);
    EXPECT_EQ(_afxInitData.header.dataLength, 0);
    EXPECT_EQ(_afxInitData.header.allocLength, 0);
    EXPECT_EQ(_afxPchNil[0], 0);
    EXPECT_EQ(_afxDataNil, &_afxInitData.header);
    EXPECT_EQ(afxChNil, 0);
    EXPECT_EQ(AfxGetEmptyString().GetString(), _afxPchNil);
    EXPECT_EQ(AfxGetEmptyString().GetLength(), 0);
    EXPECT_EQ(AfxGetEmptyStringA().GetString(), _afxPchANil);
    EXPECT_EQ(_afxInitDataA.header.refCount, -1);
    {
        CAtlString a;
        CAtlString b(a);                    // copying nil: no allocation
        CAtlString c = AfxGetEmptyString(); // neither from the static empty string
        b = a;
        EXPECT_TRUE(IsNil(a));
        EXPECT_TRUE(IsNil(b));
        EXPECT_TRUE(IsNil(c));
        b.Empty();
        b.Truncate(0);
        b.MakeReverse();
        b.TrimLeft();
        b.TrimRight();
        b.ReleaseBuffer();
        EXPECT_TRUE(IsNil(b));
    }
    // Destroying nil strings frees and counts nothing.
    EXPECT_EQ(_afxInitData.header.refCount, -1);
    EXPECT_EQ(_afxInitData.header.dataLength, 0);
    EXPECT_EQ(_afxPchNil[0], 0);
}

TEST(AtlStringCore, ConstructorsFollowTheirRules) {
    CFStringRef xyz = CFStringCreateWithCharacters(nullptr, u"xyz", 3);
    CFStringRef empty = CFStringCreateWithCharacters(nullptr, u"", 0);
    CAtlStringA bytes("a\xFF");
    struct Row {
        const char* what;
        std::function<CAtlString()> make;
        std::u16string expect; // empty means nil
    };
    const char16_t embedded[] = {u'a', 0, u'b'};
    std::vector<Row> rows = {
        {"default", [] { return CAtlString(); }, u""},
        {"char* null", [] { return CAtlString(static_cast<const char*>(nullptr)); }, u""},
        {"char* empty", [] { return CAtlString(""); }, u""},
        {"char* widened", [] { return CAtlString("ab\xE9"); }, u"ab\u00E9"},
        {"char* n", [] { return CAtlString("abc", 2); }, u"ab"},
        {"char* n 0", [] { return CAtlString("abc", 0); }, u""},
        {"char* n -1", [] { return CAtlString("abc", -1); }, u""},
        {"char* null n", [] { return CAtlString(static_cast<const char*>(nullptr), 3); }, u""},
        {"char x3", [] { return CAtlString('x', 3); }, u"xxx"},
        {"char 0xE9 x2", [] { return CAtlString('\xE9', 2); }, u"\u00E9\u00E9"},
        {"char x0", [] { return CAtlString('x', 0); }, u""},
        {"char x-2", [] { return CAtlString('x', -2); }, u""},
        {"unit x2", [] { return CAtlString(u'\u4E2D', 2); }, u"\u4E2D\u4E2D"},
        {"ushort x1", [] { return CAtlString(static_cast<unsigned short>(0x41), 1); }, u"A"},
        {"units null", [] { return CAtlString(static_cast<const char16_t*>(nullptr)); }, u""},
        {"units empty", [] { return CAtlString(u""); }, u""},
        {"units", [] { return CAtlString(u"ab\u4E2D"); }, u"ab\u4E2D"},
        {"ushort units", [] { return CAtlString(reinterpret_cast<const unsigned short*>(u"hi")); },
         u"hi"},
        {"units n keeps zeros", [&] { return CAtlString(embedded, 3); },
         std::u16string(embedded, 3)},
        {"units n 0", [] { return CAtlString(u"abc", 0); }, u""},
        {"CAtlStringA", [&] { return CAtlString(bytes); }, u"a\u00FF"},
        {"CAtlStringA empty", [] { return CAtlString(CAtlStringA()); }, u""},
        {"CFString", [&] { return CAtlString(xyz); }, u"xyz"},
        {"CFString empty", [&] { return CAtlString(empty); }, u""},
        {"CFString null", [] { return CAtlString(static_cast<CFStringRef>(nullptr)); }, u""},
    };
    for (const Row& row : rows) {
        CAtlString s = row.make();
        EXPECT_EQ(Units(s), row.expect) << row.what;
        EXPECT_EQ(IsNil(s), row.expect.empty()) << row.what;
        if (!row.expect.empty()) {
            EXPECT_EQ(s.GetAllocLength(), int(row.expect.size())) << row.what;
            EXPECT_EQ(Refs(s), 1) << row.what;
            EXPECT_EQ(s.GetString()[s.GetLength()], 0) << row.what;
        }
    }
    CFRelease(xyz);
    CFRelease(empty);
}

TEST(AtlStringCore, CopiesShareUntilOneIsWritten) {
    CAtlString a(u"abc");
    CAtlString b(u"zz");
    b = a;
    EXPECT_EQ(b.GetString(), a.GetString());
    EXPECT_EQ(Refs(a), 2);
    {
        CAtlString c(a);
        EXPECT_EQ(Refs(a), 3);
    }
    EXPECT_EQ(Refs(a), 2);
    b += u'd';
    EXPECT_NE(b.GetString(), a.GetString());
    EXPECT_EQ(Units(b), u"abcd");
    EXPECT_EQ(b.GetAllocLength(), 4); // exactly length + 1
    EXPECT_EQ(Refs(b), 1);
    EXPECT_EQ(Units(a), u"abc");
    EXPECT_EQ(Refs(a), 1);

    // Self-assignment and assigning a string already shared change nothing.
    b = a;
    b = a;
    a = a;
    EXPECT_EQ(Refs(a), 2);

    // Every writer copies first; the other holder never sees the write.
    using Edit = std::function<void(CAtlString&)>;
    std::vector<std::pair<const char*, Edit>> edits = {
        {"SetAt", [](CAtlString& s) { s.SetAt(0, u'X'); }},
        {"Replace unit", [](CAtlString& s) { s.Replace(u'a', u'X'); }},
        {"Remove", [](CAtlString& s) { s.Remove(u'a'); }},
        {"Delete", [](CAtlString& s) { s.Delete(0, 1); }},
        {"Insert", [](CAtlString& s) { s.Insert(0, u'X'); }},
        {"Insert string", [](CAtlString& s) { s.Insert(1, u"XY"); }},
        {"MakeReverse", [](CAtlString& s) { s.MakeReverse(); }},
        {"MakeUpper", [](CAtlString& s) { s.MakeUpper(); }},
        {"TrimLeft unit", [](CAtlString& s) { s.TrimLeft(u'a'); }},
        {"TrimRight set", [](CAtlString& s) { s.TrimRight(u"c"); }},
        {"Replace string", [](CAtlString& s) { s.Replace(u"b", u"XX"); }},
        {"GetBuffer", [](CAtlString& s) { s.GetBuffer(1)[0] = u'X'; }},
        {"ReleaseBuffer", [](CAtlString& s) { s.ReleaseBuffer(1); }},
        {"Append", [](CAtlString& s) { s.Append(u"X"); }},
        {"Assign", [](CAtlString& s) { s = u"X"; }},
        {"Empty", [](CAtlString& s) { s.Empty(); }},
        {"LockBuffer", [](CAtlString& s) { s.LockBuffer()[0] = u'X'; }},
    };
    for (auto& [what, edit] : edits) {
        CAtlString source(u"abc");
        CAtlString writer(source);
        ASSERT_EQ(Refs(source), 2);
        edit(writer);
        EXPECT_EQ(Units(source), u"abc") << what;
        EXPECT_EQ(Refs(source), 1) << what;
        EXPECT_NE(writer.GetString(), source.GetString()) << what;
    }
}

TEST(AtlStringCore, LockedBuffersAreCopiedNeverShared) {
    CAtlString locked(u"abc");
    char16_t* p = locked.LockBuffer();
    EXPECT_EQ(p, locked.GetString());
    EXPECT_EQ(Refs(locked), -1);
    CAtlString copy(locked);
    EXPECT_NE(copy.GetString(), locked.GetString());
    EXPECT_EQ(Refs(copy), 1);
    EXPECT_EQ(Refs(locked), -1);
    CAtlString assigned(u"zz");
    assigned = locked;
    EXPECT_NE(assigned.GetString(), locked.GetString());
    EXPECT_EQ(Units(assigned), u"abc");

    // Assigning into a locked buffer writes in place and keeps the lock.
    locked = CAtlString(u"xy");
    EXPECT_EQ(locked.GetString(), p);
    EXPECT_EQ(Refs(locked), -1);
    EXPECT_EQ(Units(locked), u"xy");
    // Unlocking returns to private, after which copies share again.
    locked.UnlockBuffer();
    EXPECT_EQ(Refs(locked), 1);
    CAtlString shared(locked);
    EXPECT_EQ(shared.GetString(), locked.GetString());
    EXPECT_EQ(Refs(locked), 2);

    // Locking a shared buffer makes it private first.
    CAtlString other(shared);
    other.LockBuffer();
    EXPECT_NE(other.GetString(), shared.GetString());
    EXPECT_EQ(Refs(shared), 2);
    // A locked buffer is freed by its first release (the leak checker sees the rest).
    CAtlString* heap = new CAtlString(u"abc");
    heap->LockBuffer();
    delete heap;
    // Nil cannot be locked or unlocked.
    CAtlString nil;
    nil.LockBuffer();
    nil.UnlockBuffer();
    EXPECT_TRUE(IsNil(nil));
    EXPECT_EQ(_afxInitData.header.refCount, -1);
}

TEST(AtlStringCore, LockedSourceWithZeroUnitCopiesToTheZero) {
    const char16_t units[] = {u'a', u'b', 0, u'c'};
    CAtlString s(units, 4);
    CAtlString shared(s);
    EXPECT_EQ(shared.GetLength(), 4); // sharing keeps the full length
    s.LockBuffer();
    CAtlString copied(s); // copy construction reads to the first zero
    EXPECT_EQ(Units(copied), u"ab");
    CAtlString assigned;
    assigned = s; // assignment copies dataLength units
    EXPECT_EQ(Units(assigned), std::u16string(units, 4));
}

TEST(AtlStringCore, GetBufferAndReleaseBuffer) {
    CAtlString s;
    char16_t* p = s.GetBuffer(10);
    EXPECT_EQ(s.GetAllocLength(), 10);
    EXPECT_EQ(s.GetLength(), 0);
    p[0] = u'a';
    p[1] = u'b';
    p[2] = u'c';
    p[3] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(Units(s), u"abc");
    EXPECT_EQ(s.GetAllocLength(), 10);
    // Within capacity the buffer stays; beyond it, exactly n units, length kept.
    EXPECT_EQ(s.GetBuffer(8), p);
    char16_t* grown = s.GetBuffer(12);
    EXPECT_NE(grown, p);
    EXPECT_EQ(s.GetAllocLength(), 12);
    EXPECT_EQ(Units(s), u"abc");
    // n below the length never shortens the buffer.
    CAtlString t(u"abcdef");
    CAtlString u(t);
    t.GetBuffer(2);
    EXPECT_EQ(t.GetAllocLength(), 6);
    EXPECT_EQ(Units(t), u"abcdef");
    EXPECT_EQ(Refs(u), 1);

    // A recorded non-zero length survives ReleaseBuffer(-1).
    CAtlString v;
    char16_t* q = v.GetBufferSetLength(5);
    EXPECT_EQ(v.GetLength(), 5);
    EXPECT_EQ(q[5], 0);
    q[0] = u'x';
    q[1] = 0;
    v.ReleaseBuffer();
    EXPECT_EQ(v.GetLength(), 5);
    v.ReleaseBuffer(1);
    EXPECT_EQ(Units(v), u"x");
    // Zero length and no terminator in the buffer: at most allocLength units.
    CAtlString w;
    char16_t* r = w.GetBuffer(3);
    r[0] = r[1] = r[2] = u'z';
    w.ReleaseBuffer();
    EXPECT_EQ(Units(w), u"zzz");
    // Truncate.
    CAtlString x(u"abcdef");
    x.Truncate(2);
    EXPECT_EQ(Units(x), u"ab");
    EXPECT_EQ(x.GetAt(2), 0);
    EXPECT_EQ(x[1], u'b');
}

TEST(AtlStringCore, EmptyAndFreeExtra) {
    CAtlString s;
    s.GetBuffer(8);
    s.Empty(); // length 0 already: the capacity stays
    EXPECT_FALSE(IsNil(s));
    EXPECT_EQ(s.GetAllocLength(), 8);
    s.FreeExtra(); // length 0 with capacity: nil
    EXPECT_TRUE(IsNil(s));

    CAtlString t(u"abc");
    t.Empty();
    EXPECT_TRUE(IsNil(t));

    CAtlString locked(u"abc");
    char16_t* p = locked.LockBuffer();
    locked.Empty();
    EXPECT_EQ(locked.GetString(), p);
    EXPECT_EQ(locked.GetLength(), 0);
    EXPECT_EQ(Refs(locked), -1);
    EXPECT_EQ(p[0], 0);

    CAtlString u(u"abc");
    u.GetBuffer(10);
    CAtlString other(u);
    u.FreeExtra();
    EXPECT_EQ(u.GetAllocLength(), 3);
    EXPECT_EQ(Units(u), u"abc");
    EXPECT_EQ(Refs(u), 1);
    EXPECT_EQ(other.GetAllocLength(), 10);
    const char16_t* before = u.GetString();
    u.FreeExtra(); // already exact: nothing
    EXPECT_EQ(u.GetString(), before);

    CAtlString v(u"abc");
    v.GetBuffer(9);
    v.LockBuffer();
    v.FreeExtra(); // the new buffer is private and unlocked
    EXPECT_EQ(Refs(v), 1);
    EXPECT_EQ(v.GetAllocLength(), 3);
}

TEST(AtlStringCore, Assignments) {
    CAtlString s;
    s.GetBuffer(6);
    const char16_t* p = s.GetString();
    s = u"abc"; // fits: written in place
    EXPECT_EQ(s.GetString(), p);
    EXPECT_EQ(Units(s), u"abc");
    s = static_cast<const char16_t*>(nullptr); // length 0, buffer kept
    EXPECT_EQ(s.GetString(), p);
    EXPECT_EQ(s.GetLength(), 0);
    s = "x\xE9";
    EXPECT_EQ(Units(s), u"x\u00E9");
    s = ""; // an empty 8-bit string empties the string
    EXPECT_TRUE(IsNil(s));
    s = '\xFF';
    EXPECT_EQ(Units(s), u"\u00FF");
    s = u'\u4E2D';
    EXPECT_EQ(Units(s), u"\u4E2D");
    s = static_cast<unsigned short>(0x42);
    EXPECT_EQ(Units(s), u"B");
    s = CAtlStringA("q\x80");
    EXPECT_EQ(Units(s), u"q\u0080");
    s = reinterpret_cast<const unsigned short*>(u"ok");
    EXPECT_EQ(Units(s), u"ok");
    CFStringRef cf = CFStringCreateWithCharacters(nullptr, u"cf!", 3);
    s = cf;
    EXPECT_EQ(Units(s), u"cf!");
    CFRelease(cf);
    s = static_cast<CFStringRef>(nullptr);
    EXPECT_TRUE(IsNil(s));
    // Assigning the string's own tail.
    CAtlString t(u"abcdef");
    t = t.GetString() + 2;
    EXPECT_EQ(Units(t), u"cdef");
}

TEST(AtlStringCore, ConcatenationOperatorsBuildOneExactBuffer) {
    CAtlString ab(u"ab");
    CAtlString none;
    struct Row {
        const char* what;
        CAtlString result;
        std::u16string expect;
    };
    std::vector<Row> rows = {
        {"S+S", ab + CAtlString(u"cd"), u"abcd"},
        {"S+unit", ab + u'\u4E2D', u"ab\u4E2D"},
        {"unit+S", u'x' + ab, u"xab"},
        {"S+ushort", ab + static_cast<unsigned short>(0x43), u"abC"},
        {"S+char", ab + '\xE9', u"ab\u00E9"},
        {"char+S", 'c' + ab, u"cab"},
        {"S+units", ab + u"yz", u"abyz"},
        {"units+S", u"yz" + ab, u"yzab"},
        {"S+null units", ab + static_cast<const char16_t*>(nullptr), u"ab"},
        {"null units+S", static_cast<const char16_t*>(nullptr) + ab, u"ab"},
        {"S+bytes", ab + "\xE9!", u"ab\u00E9!"},
        {"bytes+S", "<" + ab, u"<ab"},
        {"S+null bytes", ab + static_cast<const char*>(nullptr), u"ab"},
        {"null bytes+S", static_cast<const char*>(nullptr) + ab, u"ab"},
        {"S+ushort units", ab + reinterpret_cast<const unsigned short*>(u"!"), u"ab!"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Units(row.result), row.expect) << row.what;
        EXPECT_EQ(row.result.GetAllocLength(), int(row.expect.size())) << row.what;
        EXPECT_EQ(Refs(row.result), 1) << row.what;
    }
    EXPECT_TRUE(IsNil(none + none));
    EXPECT_TRUE(IsNil(none + u""));
    EXPECT_TRUE(IsNil("" + none));
    CAtlString three = ab + 'c';
    EXPECT_EQ(three.GetAllocLength(), 3);
    EXPECT_EQ(Refs(ab), 1); // the operands are untouched
}

TEST(AtlStringCore, AppendGrowsExactlyOrWritesInPlace) {
    CAtlString s;
    s += u"ab";
    EXPECT_EQ(s.GetAllocLength(), 2);
    s += 'c';
    s += "d\xE9";
    s += u'f';
    s += static_cast<unsigned short>(u'g');
    s += CAtlString(u"h");
    s.Append(u"ij");
    s.Append("k");
    EXPECT_EQ(Units(s), u"abcd\u00E9fghijk");
    EXPECT_EQ(s.GetAllocLength(), s.GetLength());
    // Nothing to append: nothing happens.
    const char16_t* before = s.GetString();
    s += static_cast<const char16_t*>(nullptr);
    s += static_cast<const char*>(nullptr);
    s.Append(static_cast<const char16_t*>(nullptr), 3);
    s.Append(u"zz", 0);
    s += CAtlString();
    EXPECT_EQ(s.GetString(), before);
    // Append(p, n) takes exactly n units, zeros included.
    const char16_t units[] = {u'1', 0, u'2'};
    CAtlString t;
    t.Append(units, 3);
    EXPECT_EQ(Units(t), std::u16string(units, 3));
    const char bytes[] = {'x', '\xFF', 'y'};
    t.Append(bytes, 2);
    EXPECT_EQ(t.GetLength(), 5);
    EXPECT_EQ(t[4], u'\u00FF');
    // Reserved capacity is written in place.
    CAtlString u;
    char16_t* p = u.GetBuffer(16);
    for (int i = 0; i < 16; ++i)
        u += u'x';
    EXPECT_EQ(u.GetString(), p);
    EXPECT_EQ(u.GetLength(), 16);
    // A locked buffer with room is written in place and stays locked.
    CAtlString locked;
    locked.GetBuffer(4);
    locked.LockBuffer();
    locked += u"ab";
    EXPECT_EQ(Refs(locked), -1);
    locked += u"cde"; // beyond capacity: a new private, unlocked buffer
    EXPECT_EQ(Refs(locked), 1);
    EXPECT_EQ(Units(locked), u"abcde");
    // Appending the string to itself (the source lies in the old buffer).
    CAtlString self(u"xyz");
    self += self;
    self += self.GetString();
    EXPECT_EQ(Units(self), u"xyzxyzxyzxyz");
}

TEST(AtlStringCore, PlatformStrings) {
    CAtlString s(u"caf\u00E9");
    CFStringRef copy = s.CreateCFStringRef(kCFAllocatorDefault);
    ASSERT_NE(copy, nullptr);
    CFStringRef view = s; // refers to s's own units
    ASSERT_NE(view, nullptr);
    for (CFStringRef cf : {copy, view}) {
        ASSERT_EQ(CFStringGetLength(cf), 4);
        char16_t out[4] = {1, 1, 1, 1};
        CFStringGetCharacters(cf, CFRangeMake(0, 4), out);
        EXPECT_EQ(std::u16string(out, 4), u"caf\u00E9");
    }
    CFRelease(view);
    s.SetAt(0, u'C');
    EXPECT_EQ(CFStringGetCharacterAtIndex(copy, 0), u'c');
    CFRelease(copy);
    CAtlString none;
    CFStringRef empty = none.CreateCFStringRef();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(CFStringGetLength(empty), 0);
    CFRelease(empty);
}

TEST(AtlStringCore, ElementHelpers) {
    alignas(CAtlString) unsigned char raw[3 * sizeof(CAtlString)];
    CAtlString* items = reinterpret_cast<CAtlString*>(raw);
    ConstructElements(items, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(IsNil(items[i]));
    CAtlString src[3] = {CAtlString(u"a"), CAtlString(u"b"), CAtlString()};
    CopyElements(items, src, 3);
    EXPECT_EQ(items[0].GetString(), src[0].GetString());
    EXPECT_EQ(Refs(src[1]), 2);
    DestructElements(items, 3);
    EXPECT_EQ(Refs(src[0]), 1);
    EXPECT_EQ(Refs(src[1]), 1);

    alignas(CAtlStringA) unsigned char rawA[2 * sizeof(CAtlStringA)];
    CAtlStringA* bytes = reinterpret_cast<CAtlStringA*>(rawA);
    ConstructElements(bytes, 2);
    CAtlStringA srcA[2] = {CAtlStringA("x"), CAtlStringA("y")};
    CopyElements(bytes, srcA, 2);
    EXPECT_EQ(Refs(srcA[0]), 2);
    DestructElements(bytes, 2);
    EXPECT_EQ(Refs(srcA[0]), 1);
}

// A string object is its character pointer and nothing else.
static_assert(sizeof(CAtlString) == sizeof(char16_t*));
static_assert(sizeof(CAtlStringA) == sizeof(char*));
static_assert(sizeof(CAtlStringData) == 12 && sizeof(CAtlStringAData) == 12);

TEST(AtlStringCore, AccessAndTwins) {
    CAtlString s(u"abc");
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_FALSE(s.IsEmpty());
    EXPECT_TRUE(CAtlString().IsEmpty());
    const char16_t* p = s;
    const unsigned short* q = s;
    EXPECT_EQ(static_cast<const void*>(p), static_cast<const void*>(q));
    EXPECT_EQ(s.GetBuffer(), p);
    EXPECT_EQ(s.GetAt(3), 0);
    EXPECT_FALSE(s.LoadString(1));
    EXPECT_EQ(Units(s), u"abc");
    EXPECT_EQ(CAtlString::SafeStrlen(nullptr), 0);
    EXPECT_EQ(CAtlString::SafeStrlen(u"ab"), 2);
    EXPECT_EQ(CAtlStringA::SafeStrlen(nullptr), 0);
}

} // namespace

// Buffers of every length up to a few hundred units, for both twins, made and freed in an
// interleaved order and on two threads (a buffer made on one thread and freed on another):
// each keeps its own exact contents and capacity, so no two strings ever share storage.
TEST(AtlStringCore, BuffersOfEveryLengthKeepTheirOwnStorage) {
    auto fill16 = [](int n, int seed) {
        std::u16string s;
        for (int i = 0; i < n; ++i)
            s += char16_t(u'A' + (i + seed) % 50);
        return s;
    };
    auto fill8 = [](int n, int seed) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += char('a' + (i + seed) % 26);
        return s;
    };
    for (int round = 0; round < 3; ++round) {
        std::vector<CAtlString> wide;
        std::vector<CAtlStringA> narrow;
        for (int n = 0; n <= 300; ++n) {
            wide.emplace_back(fill16(n, round).c_str());
            narrow.emplace_back(fill8(n, round).c_str());
        }
        // Free every other one, then make new ones of the lengths just freed, reversed.
        for (int n = 0; n <= 300; n += 2) {
            wide[size_t(n)].Empty();
            narrow[size_t(n)].Empty();
        }
        for (int n = 300; n >= 0; n -= 2) {
            wide[size_t(n)] = fill16(n, round + 7).c_str();
            narrow[size_t(n)] = fill8(n, round + 7).c_str();
        }
        // Another thread releases buffers made here and makes its own of the same lengths,
        // while this one makes more.
        std::vector<CAtlString> handedOver;
        for (int n = 0; n <= 300; ++n)
            handedOver.emplace_back(fill16(n, 3).c_str());
        std::vector<CAtlString> theirs;
        std::thread other([&] {
            handedOver.clear();
            for (int n = 0; n <= 300; ++n)
                theirs.emplace_back(fill16(n, 4).c_str());
        });
        std::vector<CAtlString> more;
        for (int n = 0; n <= 300; n += 5)
            more.emplace_back(fill16(n, 99).c_str());
        other.join();
        for (int n = 0; n <= 300; ++n)
            ASSERT_EQ(Units(theirs[size_t(n)]), fill16(n, 4)) << n;
        theirs.clear(); // freed here, made there
        for (int n = 0; n <= 300; ++n) {
            int seed = (n % 2 == 0) ? round + 7 : round;
            ASSERT_EQ(Units(wide[size_t(n)]), fill16(n, seed)) << "round " << round << " n " << n;
            ASSERT_EQ(Bytes(narrow[size_t(n)]), fill8(n, seed)) << "round " << round << " n " << n;
            EXPECT_EQ(wide[size_t(n)].GetAllocLength(), n);
            EXPECT_EQ(narrow[size_t(n)].GetAllocLength(), n);
        }
        for (size_t k = 0; k < more.size(); ++k)
            ASSERT_EQ(Units(more[k]), fill16(int(k * 5), 99)) << k;
    }
}

// Strings that outlive what their thread set up for its buffers: statics owning blocks of every
// size when the program exits (after this thread has freed blocks of its own), and a thread's
// thread-local string that gets its block after the thread's first buffer, so that it is
// destroyed after anything that buffer set up. The program, a child of its own, ends normally
// and silently: no crash, no report from the address or leak checker.
TEST(AtlStringCoreDeathTest, StringsAliveAtThreadAndProgramExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto program = [] {
        static CAtlString small(u"a static string");
        static CAtlString medium(u'm', 100);
        static CAtlString large(u'l', 1000);
        static CAtlStringA narrow('n', 40);
        auto makeAndFree = [] {
            std::vector<CAtlString> pieces;
            for (int i = 0; i < 40; ++i)
                pieces.emplace_back(u'p', 1 + i * 3);
        };
        std::thread([&] {
            makeAndFree();
            thread_local CAtlString late;
            late = CAtlString(u'x', 50);
            makeAndFree();
        }).join();
        makeAndFree();
        std::exit(0);
    };
    EXPECT_EXIT(program(), testing::ExitedWithCode(0), "^$");
}
