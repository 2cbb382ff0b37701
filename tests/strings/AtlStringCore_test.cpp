// What both string classes share: the buffer record and its counting, nil, copy on write,
// locking, buffer access, cutting, unit editing, trimming and tokenizing. A random model run
// checks every editing, cutting, trimming and searching member of both classes against
// std::basic_string; the tests after it pin what the model cannot see (buffer identity, nil,
// capacities, quirks and bad input).
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace {

template <class Ch>
std::basic_string<Ch> ReplaceAll(const std::basic_string<Ch>& s, const std::basic_string<Ch>& from,
                                 const std::basic_string<Ch>& to, int& count) {
    std::basic_string<Ch> out;
    size_t done = 0;
    count = 0;
    for (size_t at = s.find(from); at != s.npos; at = s.find(from, done), ++count) {
        out.append(s, done, at - done).append(to);
        done = at + from.size();
    }
    return out.append(s, done);
}

// What Tokenize gives from start: the token, and start moved past it and the delimiters after
// it, or -1 after the last token.
template <class Ch>
std::basic_string<Ch> ModelToken(const std::basic_string<Ch>& m, const std::basic_string<Ch>& d,
                                 int& start) {
    if (start >= int(m.size())) {
        start = -1;
        return {};
    }
    std::basic_string<Ch> rest = m.substr(size_t(start));
    const size_t lead = std::min(rest.find_first_not_of(d), rest.size());
    rest.erase(0, lead);
    const size_t k = rest.find_first_of(d);
    if (k == rest.npos) {
        start = -1;
        return rest;
    }
    const size_t next = rest.find_first_not_of(d, k);
    start = next == rest.npos ? -1 : start + int(lead + next);
    return rest.substr(0, k);
}

// Random steps on four strings that copy from each other; after each step every string holds
// its model, ends with a zero, and every buffer's count is the number of strings holding it.
template <class Str, class Ch> void EditAtRandom(const std::basic_string<Ch>& alphabet) {
    using Model = std::basic_string<Ch>;
    std::mt19937 rng(20261205);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto unit = [&] { return alphabet[size_t(pick(int(alphabet.size())))]; };
    auto text = [&](int maxLen) {
        Model t;
        for (int n = pick(maxLen + 1); n > 0; --n)
            t += unit();
        return t;
    };
    const Model space = {Ch(' '), Ch('\t'), Ch('\n'), Ch('\v'), Ch('\f'), Ch('\r')};
    constexpr int kSlots = 4;
    Str slots[kSlots];
    Model model[kSlots];
    for (int step = 0; step < 3000; ++step) {
        const int k = pick(kSlots), j = pick(kSlots), op = pick(37);
        Str& s = slots[k];
        Model& m = model[k];
        const int len = int(m.size());
        const int i = pick(len + 4) - 2, n = pick(len + 4) - 2; // -2 to len + 1
        const int at = pick(len + 1);
        const Ch c = unit(), d = unit();
        const Model t = text(3), sub = Model(1, c) + text(1);
        int got = 0, want = 0; // what members that return a number return
        switch (op) {
        case 0: { // copy construction, then assignment: both share
            Str copy(slots[j]);
            s = copy;
            m = model[j];
            break;
        }
        case 1: { // slots[j] may be s itself: its text lies in the buffer that grows
            const Model add = model[j];
            s += slots[j];
            m += add;
            break;
        }
        case 2: {
            const Model sum = model[j] + model[(j + k) % kSlots];
            s = slots[j] + slots[(j + k) % kSlots];
            m = sum;
            break;
        }
        case 3:
            s += t.c_str();
            m += t;
            break;
        case 4: // exactly the first at units of t
            s.Append(t.c_str(), at % int(t.size() + 1));
            m += t.substr(0, size_t(at) % (t.size() + 1));
            break;
        case 5:
            s = t.c_str();
            m = t;
            break;
        case 6: // the string's own tail
            s = s.GetString() + at;
            m.erase(0, size_t(at));
            break;
        case 7:
            got = s.Insert(i, t.c_str());
            m.insert(size_t(std::clamp(i, 0, len)), t);
            want = int(m.size());
            break;
        case 8:
            got = s.Insert(i, c);
            m.insert(size_t(std::clamp(i, 0, len)), 1, c);
            want = int(m.size());
            break;
        case 9: // the string's own text, from its own buffer
            got = s.Insert(i, s.GetString() + at);
            m.insert(size_t(std::clamp(i, 0, len)), m.substr(size_t(at)));
            want = int(m.size());
            break;
        case 10:
            got = s.Delete(i, n);
            want = len;
            if (std::max(i, 0) < len && n > 0)
                m.erase(size_t(std::max(i, 0)), size_t(n));
            break;
        case 11:
            got = s.Remove(c);
            want = int(std::erase(m, c));
            break;
        case 12:
            got = s.Replace(c, d);
            want = c == d ? 0 : int(std::count(m.begin(), m.end(), c));
            std::replace(m.begin(), m.end(), c, d);
            break;
        case 13:
            got = s.Replace(sub.c_str(), t.c_str());
            m = ReplaceAll(m, sub, t, want);
            break;
        case 14:
            if (len > 0) {
                got = s.SetAt(at % len, c);
                want = at % len;
                m[size_t(want)] = c;
            }
            break;
        case 15:
            s = s.Mid(i, n);
            m = std::max(i, 0) > len ? Model()
                                     : m.substr(size_t(std::max(i, 0)), size_t(std::max(n, 0)));
            break;
        case 16:
            s = s.Mid(i);
            m = i > len ? Model() : m.substr(size_t(std::max(i, 0)));
            break;
        case 17:
            s = s.Left(n);
            m = m.substr(0, size_t(std::max(n, 0)));
            break;
        case 18:
            s = s.Right(n);
            m = m.substr(size_t(len - std::clamp(n, 0, len)));
            break;
        case 19:
            s.TrimLeft();
            m.erase(0, std::min(m.find_first_not_of(space), m.size()));
            break;
        case 20:
            s.TrimRight();
            m.erase(m.find_last_not_of(space) + 1);
            break;
        case 21:
            s.Trim();
            m.erase(m.find_last_not_of(space) + 1);
            m.erase(0, std::min(m.find_first_not_of(space), m.size()));
            break;
        case 22:
            s.TrimLeft(c);
            m.erase(0, std::min(m.find_first_not_of(c), m.size()));
            break;
        case 23:
            s.TrimRight(c);
            m.erase(m.find_last_not_of(c) + 1);
            break;
        case 24:
            s.TrimLeft(t.c_str());
            m.erase(0, std::min(m.find_first_not_of(t), m.size()));
            break;
        case 25:
            s.TrimRight(t.c_str());
            m.erase(t.empty() ? m.size() : m.find_last_not_of(t) + 1);
            break;
        case 26:
            s.MakeReverse();
            std::reverse(m.begin(), m.end());
            break;
        case 27:
            s.Truncate(at);
            m.resize(size_t(at));
            break;
        case 28:
            s.LockBuffer();
            if (pick(2))
                s.UnlockBuffer();
            break;
        case 29:
            s.FreeExtra();
            break;
        case 30:
            s.GetBuffer(len + n);
            break;
        case 31:
            s.Empty();
            m.clear();
            break;
        case 32:
            got = s.Find(c, i);
            want = i >= len ? -1 : int(m.find(c, size_t(std::max(i, 0))));
            break;
        case 33:
            got = s.Find(sub.c_str(), i);
            want = i >= len ? -1 : int(m.find(sub, size_t(std::max(i, 0))));
            break;
        case 34:
            got = s.FindOneOf(t.c_str());
            want = int(m.find_first_of(t));
            break;
        case 36:
            got = s.ReverseFind(c);
            want = int(m.rfind(c));
            break;
        case 35: {
            int start = at + pick(2), modelStart = start;
            Str token = s.Tokenize(t.c_str(), start);
            ASSERT_EQ(Text(token), ModelToken(m, t, modelStart)) << "step " << step;
            got = start;
            want = modelStart;
            break;
        }
        }
        ASSERT_EQ(got, want) << "step " << step << " op " << op;
        std::map<const Ch*, int> holders;
        for (int h = 0; h < kSlots; ++h) {
            ASSERT_EQ(Text(slots[h]), model[h]) << "step " << step << " op " << op;
            ASSERT_EQ(slots[h].GetString()[slots[h].GetLength()], 0) << "step " << step;
            ASSERT_GE(slots[h].GetAllocLength(), slots[h].GetLength()) << "step " << step;
            ASSERT_EQ(slots[h].IsEmpty(), model[h].empty()) << "step " << step;
            if (!IsNil(slots[h]))
                ++holders[slots[h].GetString()];
        }
        for (const Str& h : slots) {
            if (!IsNil(h)) {
                ASSERT_EQ(Refs(h) == -1 ? 1 : Refs(h), holders[h.GetString()])
                    << "step " << step << " op " << op << " (a locked buffer is never shared)";
            }
        }
    }
}

TEST(AtlStringCore, RandomEditsMatchReferenceStrings) {
    EditAtRandom<CAtlString>(std::u16string(u"ab \t\r\u00E9\u4E2D"));
    EditAtRandom<CAtlStringA>(std::string("ab \t\r\x8E\xE9"));
    // The empty records were never counted or written.
    EXPECT_EQ(_afxInitData.header.refCount, -1);
    EXPECT_EQ(_afxInitDataA.header.refCount, -1);
    EXPECT_EQ(_afxInitData.header.dataLength + _afxInitDataA.header.dataLength, 0);
}

TEST(AtlStringCore, NilIsSharedAndNeverCountedOrWritten) {
    EXPECT_EQ(AfxGetEmptyString().GetString(), _afxPchNil);
    EXPECT_EQ(AfxGetEmptyStringA().GetString(), _afxPchANil);
    {
        CAtlString a;
        CAtlString b(a);
        CAtlString c = AfxGetEmptyString();
        CAtlStringA d(AfxGetEmptyStringA());
        b = a;
        c.Empty();
        c.Truncate(0);
        c.MakeReverse();
        c.TrimLeft();
        c.ReleaseBuffer();
        c.LockBuffer();
        c.UnlockBuffer();
        c.FreeExtra();
        d.TrimRight();
        d.UnlockBuffer();
        EXPECT_TRUE(IsNil(a) && IsNil(b) && IsNil(c) && IsNil(d));
        EXPECT_FALSE(c.LoadString(1)); // translated texts come from elsewhere
    }
    EXPECT_EQ(_afxInitData.header.refCount, -1);
    EXPECT_EQ(_afxInitDataA.header.refCount, -1);
    EXPECT_EQ(_afxInitData.header.dataLength + _afxInitData.header.allocLength, 0);
    EXPECT_EQ(_afxPchNil[0] + _afxPchANil[0], 0);
}

TEST(AtlStringCore, SharingAndLocking) {
    CAtlString a(u"abc");
    CAtlString nil;
    nil = a; // nil is no locked buffer: it shares
    EXPECT_EQ(nil.GetString(), a.GetString());
    EXPECT_EQ(Refs(a), 2);

    char16_t* p = a.LockBuffer(); // shared: made private first, then locked
    EXPECT_NE(p, nil.GetString());
    EXPECT_EQ(Refs(a), -1);
    EXPECT_EQ(Refs(nil), 1);
    CAtlString copy(a);
    CAtlString assigned(u"zz");
    assigned = a;
    EXPECT_NE(copy.GetString(), p);
    EXPECT_NE(assigned.GetString(), p);
    EXPECT_EQ(Text(assigned), u"abc");
    EXPECT_EQ(Refs(a), -1);
    a = CAtlString(u"xy"); // written into the locked buffer, which stays locked
    EXPECT_EQ(a.GetString(), p);
    EXPECT_EQ(Refs(a), -1);
    EXPECT_EQ(Text(a), u"xy");
    a.UnlockBuffer();
    EXPECT_EQ(Refs(a), 1);
    CAtlString shared(a);
    EXPECT_EQ(shared.GetString(), p);

    // Copying a locked buffer: construction reads to the first zero, assignment the length.
    const char16_t units[] = {u'a', 0, u'b'};
    CAtlString zero(units, 3);
    zero.LockBuffer();
    CAtlString constructed(zero);
    CAtlString assignedZero;
    assignedZero = zero;
    EXPECT_EQ(Text(constructed), u"a");
    EXPECT_EQ(Text(assignedZero), std::u16string(units, 3));
    // A locked buffer is freed by its first release (the leak checker sees the rest).
    delete new CAtlString(zero);
}

TEST(AtlStringCore, BufferAccessGrowsToExactlyWhatIsNeeded) {
    CAtlString s;
    char16_t* p = s.GetBuffer(4);
    EXPECT_EQ(s.GetAllocLength(), 4);
    EXPECT_EQ(s.GetBuffer(4), p); // within capacity: the same buffer
    s = u"abcd";                  // fits exactly: written in place
    s.Truncate(0);
    s += u"ab";
    s += u"cd"; // fills the capacity exactly: in place
    EXPECT_EQ(s.GetString(), p);
    EXPECT_EQ(s.Insert(2, u'x'), 5); // beyond it: exactly the new length
    EXPECT_EQ(s.GetAllocLength(), 5);
    CAtlString other(s);
    EXPECT_NE(s.GetBuffer(2), other.GetString()); // below the length: private, never shorter
    EXPECT_EQ(s.GetAllocLength(), 5);
    EXPECT_EQ(Text(s), u"abxcd");

    CAtlString room;
    room.GetBuffer(5);
    room += u"ab";
    EXPECT_EQ(room.Insert(1, u"xyz"), 5); // exactly filling the capacity: in place
    EXPECT_EQ(room.GetAllocLength(), 5);
    EXPECT_EQ(Text(room), u"axyzb");

    CAtlString v;
    char16_t* q = v.GetBufferSetLength(3);
    EXPECT_EQ(v.GetLength(), 3);
    EXPECT_EQ(q[3], 0);

    // A locked buffer with room is written in place and stays locked; beyond its room the
    // string gets a new private buffer.
    CAtlString locked;
    locked.GetBuffer(4);
    locked.LockBuffer();
    locked += u"ab";
    EXPECT_EQ(Refs(locked), -1);
    locked += u"cde";
    EXPECT_EQ(Refs(locked), 1);
    EXPECT_EQ(locked.GetAllocLength(), 5);
}

TEST(AtlStringCore, EmptyAndFreeExtra) {
    CAtlString s;
    s.GetBuffer(8);
    s.Empty(); // length 0 already: the capacity stays
    EXPECT_EQ(s.GetAllocLength(), 8);
    s.FreeExtra(); // length 0: nil
    EXPECT_TRUE(IsNil(s));

    CAtlString locked(u"abc");
    char16_t* p = locked.LockBuffer();
    locked.Empty(); // a locked buffer stays, locked, with length 0
    EXPECT_EQ(locked.GetString(), p);
    EXPECT_EQ(locked.GetLength(), 0);
    EXPECT_EQ(Refs(locked), -1);
    EXPECT_EQ(p[0], 0);

    CAtlString u(u"abc");
    u.GetBuffer(10);
    u.LockBuffer();
    u.FreeExtra(); // exactly the length, private and unlocked
    EXPECT_EQ(u.GetAllocLength(), 3);
    EXPECT_EQ(Refs(u), 1);
    const char16_t* before = u.GetString();
    u.FreeExtra(); // already exact: nothing
    EXPECT_EQ(u.GetString(), before);
}

TEST(AtlStringCore, CuttingSharesTheWholeAndGivesNilForNothing) {
    CAtlString s(u"abcde");
    EXPECT_EQ(Text(s.Mid(1, INT_MAX)), u"bcde"); // first + count does not overflow
    EXPECT_EQ(s.Mid(-3, 100).GetString(), s.GetString());
    EXPECT_EQ(s.Left(5).GetString(), s.GetString());
    EXPECT_EQ(s.Right(10).GetString(), s.GetString());
    EXPECT_EQ(Refs(s), 1);
    CAtlString part = s.Mid(1, 3);
    EXPECT_EQ(part.GetAllocLength(), 3);
    for (const CAtlString& none :
         {s.Mid(5, 1), s.Mid(7, 1), s.Mid(2, 0), s.Mid(1, -4), s.Left(0), s.Left(-1), s.Right(-3)})
        EXPECT_TRUE(IsNil(none));
}

TEST(AtlStringCore, EditingEdges) {
    CAtlString s(u"ab");
    EXPECT_EQ(s.Insert(1, static_cast<const char16_t*>(nullptr)), 2);
    // Whitespace is 0x09 to 0x0D and 0x20 only.
    CAtlString space(u"\t\n\v\f\r x\x08\x0E\x1F\x21\u00A0 ");
    space.Trim();
    EXPECT_EQ(Text(space), u"x\x08\x0E\x1F\x21\u00A0");
    // A zero unit, a null or an empty set trims nothing.
    CAtlString t(u"a b");
    t.TrimLeft(char16_t(0)).TrimRight(char16_t(0));
    t.TrimLeft(static_cast<const char16_t*>(nullptr)).TrimRight(u"");
    EXPECT_EQ(Text(t), u"a b");
    // Reversing stops at the first zero unit.
    const char16_t units[] = {u'a', u'b', u'c', 0, u'd'};
    CAtlString r(units, 5);
    r.MakeReverse();
    EXPECT_EQ(Text(r), std::u16string({u'c', u'b', u'a', 0, u'd'}));
    // Replacing a unit by itself copies nothing, even when shared.
    CAtlString other(s);
    EXPECT_EQ(s.Replace(u'a', u'a'), 0);
    EXPECT_EQ(s.GetString(), other.GetString());
}

TEST(AtlStringCore, ElementHelpers) {
    alignas(CAtlString) unsigned char raw[2 * sizeof(CAtlString)];
    CAtlString* items = reinterpret_cast<CAtlString*>(raw);
    ConstructElements(items, 2);
    EXPECT_TRUE(IsNil(items[0]) && IsNil(items[1]));
    CAtlString src[2] = {CAtlString(u"a"), CAtlString(u"b")};
    CopyElements(items, src, 2);
    EXPECT_EQ(Refs(src[1]), 2);
    DestructElements(items, 2);
    EXPECT_EQ(Refs(src[0]) + Refs(src[1]), 2);

    alignas(CAtlStringA) unsigned char rawA[2 * sizeof(CAtlStringA)];
    CAtlStringA* bytes = reinterpret_cast<CAtlStringA*>(rawA);
    ConstructElements(bytes, 2);
    CAtlStringA srcA[2] = {CAtlStringA("x"), CAtlStringA("y")};
    CopyElements(bytes, srcA, 2);
    EXPECT_EQ(Refs(srcA[1]), 2);
    DestructElements(bytes, 2);
    EXPECT_EQ(Refs(srcA[0]) + Refs(srcA[1]), 2);
}

} // namespace

// Buffers of every length across the pooled sizes, for both classes, freed and made again in
// another order and on another thread (made on one, freed on the other): each keeps its own
// contents and capacity, so no two strings ever share storage.
TEST(AtlStringCore, BuffersOfEveryLengthKeepTheirOwnStorage) {
    auto wide = [](int n, int seed) { return std::u16string(size_t(n), char16_t(u'A' + seed)); };
    auto narrow = [](int n, int seed) { return std::string(size_t(n), char('a' + seed)); };
    std::vector<CAtlString> w;
    std::vector<CAtlStringA> a;
    for (int n = 0; n <= 260; ++n) {
        w.emplace_back(wide(n, 0).c_str());
        a.emplace_back(narrow(n, 0).c_str());
    }
    for (int n = 0; n <= 260; n += 2) {
        w[size_t(n)].Empty();
        a[size_t(n)].Empty();
    }
    std::vector<CAtlString> theirs;
    std::thread other([&] {
        for (int n = 260; n >= 0; n -= 2) {
            w[size_t(n)] = wide(n, 1).c_str();
            a[size_t(n)] = narrow(n, 1).c_str();
            theirs.emplace_back(wide(n, 2).c_str());
        }
    });
    std::vector<CAtlString> mine;
    for (int n = 0; n <= 260; n += 3)
        mine.emplace_back(wide(n, 3).c_str());
    other.join();
    theirs.clear(); // made there, freed here
    for (int n = 0; n <= 260; ++n) {
        ASSERT_EQ(Text(w[size_t(n)]), wide(n, (n + 1) % 2)) << n;
        ASSERT_EQ(Text(a[size_t(n)]), narrow(n, (n + 1) % 2)) << n;
        ASSERT_EQ(w[size_t(n)].GetAllocLength() + a[size_t(n)].GetAllocLength(), 2 * n) << n;
    }
    for (size_t k = 0; k < mine.size(); ++k)
        ASSERT_EQ(Text(mine[k]), wide(int(k * 3), 3)) << k;
}

// Strings that outlive what their thread set up for its buffers: statics owning blocks of each
// size at program exit, and a thread-local string that gets its block after the thread's first
// buffer. The program ends normally and silently: no crash, no checker report.
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
