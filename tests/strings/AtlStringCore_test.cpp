// What both string classes share: the buffer record and its counting, nil, copy on write,
// locking, buffer access, cutting, unit editing, trimming and tokenizing. A random model run
// checks the members of both classes that edit a buffer in place or share it against
// std::basic_string; the tests after it pin what the model cannot see (buffer identity, nil,
// capacities, quirks and bad input) and the members that only read or make one copy.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <thread>
#include <vector>

namespace {

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
        const int k = pick(kSlots), j = pick(kSlots), op = pick(17);
        Str& s = slots[k];
        Model& m = model[k];
        const int len = int(m.size());
        const int i = pick(len + 4) - 2, n = pick(len + 4) - 2; // -2 to len + 1
        const int at = pick(len + 1);
        const Ch c = unit(), d = unit();
        const Model t = text(3), sub = Model(1, c) + text(1);
        int got = 0, want = 0; // what members that return a number return
        SCOPED_TRACE(testing::Message() << "step " << step << " op " << op);
        switch (op) {
        case 0: // assignment shares
            s = slots[j];
            m = model[j];
            break;
        case 1: // slots[j] may be s itself: its text lies in the buffer that grows
            s += slots[j];
            m += model[j];
            break;
        case 2: // the string's own tail
            s = s.GetString() + at;
            m.erase(0, size_t(at));
            break;
        case 3:
            got = s.Insert(i, t.c_str());
            m.insert(size_t(std::clamp(i, 0, len)), t);
            want = int(m.size());
            break;
        case 4: // the string's own text, from its own buffer
            got = s.Insert(i, s.GetString() + at);
            m.insert(size_t(std::clamp(i, 0, len)), m.substr(size_t(at)));
            want = int(m.size());
            break;
        case 5:
            got = s.Delete(i, n);
            want = len;
            if (std::max(i, 0) < len && n > 0)
                m.erase(size_t(std::max(i, 0)), size_t(n));
            break;
        case 6:
            got = s.Remove(c);
            want = int(std::erase(m, c));
            break;
        case 7:
            got = s.Replace(c, d);
            want = c == d ? 0 : int(std::count(m.begin(), m.end(), c));
            std::replace(m.begin(), m.end(), c, d);
            break;
        case 8:
            s = s.Mid(i, n);
            m = std::max(i, 0) > len ? Model()
                                     : m.substr(size_t(std::max(i, 0)), size_t(std::max(n, 0)));
            break;
        case 9:
            s.Trim();
            m.erase(m.find_last_not_of(space) + 1);
            m.erase(0, std::min(m.find_first_not_of(space), m.size()));
            break;
        case 10: // by sets; an empty set trims nothing
            s.TrimLeft(t.c_str()).TrimRight(sub.c_str());
            m.erase(0, std::min(m.find_first_not_of(t), m.size()));
            m.erase(m.find_last_not_of(sub) + 1);
            break;
        case 11:
            s.MakeReverse();
            std::reverse(m.begin(), m.end());
            break;
        case 12:
            s.Truncate(at);
            m.resize(size_t(at));
            break;
        case 13:
            s.LockBuffer();
            if (pick(2))
                s.UnlockBuffer();
            break;
        case 14:
            s.FreeExtra();
            break;
        case 15:
            s.GetBuffer(len + n);
            break;
        case 16:
            s.Empty();
            m.clear();
            break;
        }
        ASSERT_EQ(got, want);
        for (const Str& h : slots) {
            const auto holders =
                std::count_if(std::begin(slots), std::end(slots),
                              [&](const Str& o) { return o.GetString() == h.GetString(); });
            ASSERT_EQ(Text(h), model[&h - slots]);
            ASSERT_EQ(h.GetString()[h.GetLength()], 0);
            ASSERT_GE(h.GetAllocLength(), h.GetLength());
            // A locked buffer (count -1) is never shared.
            ASSERT_TRUE(IsNil(h) || std::max(Refs(h), 1) == holders);
        }
    }
}

TEST(AtlStringCore, RandomEditsMatchReferenceStrings) {
    EditAtRandom<CAtlString>(std::u16string(u"ab \t\r\u00E9\u4E2D"));
    EditAtRandom<CAtlStringA>(std::string("ab \t\r\x8E\xE9"));
}

TEST(AtlStringCore, NilIsSharedAndNeverCountedOrWritten) {
    {
        CAtlString a = AfxGetEmptyString();
        CAtlString b(a);
        CAtlStringA c(AfxGetEmptyStringA());
        b = a;
        b.ReleaseBuffer();
        b.LockBuffer();
        b.UnlockBuffer();
        EXPECT_TRUE(IsNil(a) && IsNil(b) && IsNil(c));
    }
    EXPECT_EQ(_afxInitData.header.refCount + _afxInitDataA.header.refCount, -2);
    EXPECT_EQ(_afxInitData.header.dataLength + _afxInitData.header.allocLength, 0);
}

// What the model cannot see: which buffer a string holds, its capacity and its lock.
TEST(AtlStringCore, BuffersAreSharedLockedAndSizedExactly) {
    CAtlString a(u"abc");
    CAtlString nil;
    nil = a; // nil is no locked buffer: it shares
    EXPECT_EQ(nil.GetString(), a.GetString());
    char16_t* p = a.LockBuffer();
    a = nil; // written into the locked buffer, which stays locked
    EXPECT_EQ(a.GetString(), p);
    EXPECT_EQ(Refs(a), -1);
    // Copying a locked buffer: construction reads to the first zero, assignment the length.
    const char16_t units[] = {u'a', 0, u'b'};
    CAtlString zero(units, 3);
    zero.LockBuffer();
    CAtlString assigned;
    assigned = zero;
    EXPECT_EQ(Text(CAtlString(zero)), u"a");
    EXPECT_EQ(Text(assigned), std::u16string(units, 3));

    CAtlString s;
    p = s.GetBuffer(4);
    s = u"ab";  // within the capacity: in place
    s += u"cd"; // fills it exactly: in place
    EXPECT_EQ(s.GetString(), p);
    EXPECT_EQ(s.Insert(2, u'x'), 5); // beyond it: exactly the new length
    EXPECT_EQ(s.GetAllocLength(), 5);
    CAtlString other(s);
    EXPECT_NE(s.GetBuffer(2), other.GetString()); // below the length: private, never shorter
    EXPECT_EQ(s.GetAllocLength(), 5);
    EXPECT_EQ(s.GetBufferSetLength(2)[2], 0);
    // A locked buffer with room is written in place and stays locked; emptied, it stays too.
    p = s.LockBuffer();
    s += u"abc";
    EXPECT_EQ(Refs(s), -1);
    s.Empty();
    EXPECT_EQ(s.GetString(), p);
    EXPECT_EQ(Refs(s) * 10 + s.GetLength(), -10);
    s += u"abcdef";
    EXPECT_EQ(Refs(s), 1);
    // Empty keeps a capacity with length 0 already; FreeExtra shrinks to nil for none.
    CAtlString e;
    e.GetBuffer(8);
    e.Empty();
    EXPECT_EQ(e.GetAllocLength(), 8);
    e.FreeExtra();
    EXPECT_TRUE(IsNil(e));
}

TEST(AtlStringCore, EdgesTheModelDoesNotReach) {
    CAtlString s(u"abcde");
    EXPECT_EQ(Text(s.Mid(1, INT_MAX)), u"bcde"); // first + count does not overflow
    EXPECT_EQ(s.Left(5).GetString(), s.GetString());
    EXPECT_EQ(s.Right(5).GetString(), s.GetString());
    EXPECT_EQ(Text(s.Left(4)) + Text(s.Right(4)), u"abcdbcde");
    EXPECT_TRUE(IsNil(s.Mid(5, 1)) && IsNil(s.Left(0)) && IsNil(s.Right(0)));
    // Whitespace is 0x09 to 0x0D and 0x20 only; trimming by a unit takes whole runs.
    CAtlString space(u"\t\n\v\f\r xx\x08\x0E\x1F\u00A0\x21\u00A0\u00A0 ");
    space.Trim().TrimLeft(u'x').TrimRight(u'\u00A0');
    EXPECT_EQ(Text(space), u"\x08\x0E\x1F\u00A0\x21");
    // Tokens: delimiters skipped before and after each; -1 after the last.
    CAtlString line(u",,a,,b,");
    int start = 0;
    EXPECT_EQ(Text(line.Tokenize(u",", start)), u"a");
    EXPECT_EQ(start, 5);
    EXPECT_EQ(Text(line.Tokenize(u",", start)), u"b");
    EXPECT_EQ(start, -1);
    // Reversing stops at the first zero unit.
    const char16_t units[] = {u'a', u'b', 0, u'd'};
    EXPECT_EQ(Text(CAtlString(units, 4).MakeReverse()), std::u16string({u'b', u'a', 0, u'd'}));
}

} // namespace

// Buffers of every pooled size made while another thread frees blocks made here and makes its
// own, which are then freed here: each string keeps its own contents.
TEST(AtlStringCore, BuffersFreedOnAnotherThreadKeepTheirOwnStorage) {
    auto text = [](int n, char16_t c) { return std::u16string(size_t(n), c); };
    std::vector<CAtlString> w, theirs, mine;
    for (int n = 0; n <= 130; ++n)
        w.emplace_back(text(n, u'a').c_str());
    std::thread other([&] {
        for (int n = 0; n <= 130; ++n) {
            w[size_t(n)] = text(n, u'b').c_str();
            theirs.emplace_back(text(n, u'c').c_str());
        }
    });
    for (int n = 0; n <= 130; ++n)
        mine.emplace_back(text(n, u'd').c_str());
    other.join();
    theirs.clear();
    for (int n = 0; n <= 130; ++n) {
        ASSERT_EQ(Text(w[size_t(n)]) + Text(mine[size_t(n)]), text(n, u'b') + text(n, u'd'));
        ASSERT_EQ(w[size_t(n)].GetAllocLength(), n) << n;
    }
}
