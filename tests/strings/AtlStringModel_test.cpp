// Random edits on a handful of CAtlString objects that copy from each other, checked after each
// step against std::u16string models: contents, terminator, capacity and reference counts.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace {

constexpr char16_t kAlphabet[] = {u'a', u'b', u' ', u'\t', u'\u00E9', u'\u4E2D'};

class Model {
public:
    explicit Model(unsigned seed) : rng_(seed) {}

    std::u16string Text(int maxLen) {
        std::u16string s;
        int n = Pick(maxLen + 1);
        for (int i = 0; i < n; ++i)
            s += kAlphabet[Pick(int(std::size(kAlphabet)))];
        return s;
    }
    int Pick(int n) { return int(rng_() % unsigned(n)); }

private:
    std::mt19937 rng_;
};

std::u16string ReplaceAll(std::u16string s, const std::u16string& from, const std::u16string& to) {
    std::u16string out;
    size_t done = 0;
    for (size_t at = s.find(from); at != std::u16string::npos; at = s.find(from, done)) {
        out.append(s, done, at - done).append(to);
        done = at + from.size();
    }
    return out.append(s, done, std::u16string::npos);
}

bool IsSpace(char16_t c) {
    return (c >= 9 && c <= 13) || c == 0x20;
}

TEST(AtlStringModel, RandomEditsMatchReferenceStrings) {
    constexpr int kSlots = 4;
    CAtlString slots[kSlots];
    std::u16string model[kSlots];
    Model gen(20261205);
    for (int step = 0; step < 4000; ++step) {
        int k = gen.Pick(kSlots);
        CAtlString& s = slots[k];
        std::u16string& m = model[k];
        int op = gen.Pick(16);
        int len = int(m.size());
        switch (op) {
        case 0: { // share
            int j = gen.Pick(kSlots);
            s = slots[j];
            m = model[j];
            break;
        }
        case 1: {
            std::u16string t = gen.Text(3);
            s += t.c_str();
            m += t;
            break;
        }
        case 2: {
            int i = gen.Pick(len + 3) - 1;
            std::u16string t = gen.Text(2);
            s.Insert(i, t.c_str());
            if (!t.empty())
                m.insert(size_t(std::clamp(i, 0, len)), t);
            break;
        }
        case 3: {
            int i = gen.Pick(len + 2), n = gen.Pick(4);
            s.Delete(i, n);
            if (i < len && n > 0)
                m.erase(size_t(i), size_t(n));
            break;
        }
        case 4: {
            char16_t c = kAlphabet[gen.Pick(6)];
            s.Remove(c);
            std::erase(m, c);
            break;
        }
        case 5: {
            char16_t a = kAlphabet[gen.Pick(6)], b = kAlphabet[gen.Pick(6)];
            s.Replace(a, b);
            std::replace(m.begin(), m.end(), a, b);
            break;
        }
        case 6: {
            std::u16string from = gen.Text(2), to = gen.Text(2);
            if (from.empty())
                break;
            s.Replace(from.c_str(), to.c_str());
            m = ReplaceAll(m, from, to);
            break;
        }
        case 7: {
            int first = gen.Pick(len + 3) - 1, count = gen.Pick(len + 3) - 1;
            CAtlString part = s.Mid(first, count);
            first = std::max(first, 0);
            count = std::max(count, 0);
            m = first > len ? u"" : m.substr(size_t(first), size_t(count));
            s = part;
            break;
        }
        case 8:
            s.TrimLeft();
            m.erase(
                0, size_t(std::find_if(m.begin(), m.end(), [](char16_t c) { return !IsSpace(c); }) -
                          m.begin()));
            break;
        case 9:
            s.TrimRight();
            while (!m.empty() && IsSpace(m.back()))
                m.pop_back();
            break;
        case 10:
            s.MakeReverse();
            std::reverse(m.begin(), m.end());
            break;
        case 11: {
            int n = gen.Pick(len + 1);
            s.Truncate(n);
            m.resize(size_t(n));
            break;
        }
        case 12:
            s.LockBuffer();
            if (gen.Pick(2))
                s.UnlockBuffer();
            break;
        case 13:
            s.FreeExtra();
            break;
        case 14:
            s.GetBuffer(len + gen.Pick(8));
            break;
        case 15:
            s.Empty();
            m.clear();
            break;
        }
        // Every slot still holds its model; counts match the slots that share a buffer.
        std::map<const char16_t*, int> holders;
        for (int i = 0; i < kSlots; ++i) {
            ASSERT_EQ(Units(slots[i]), model[i]) << "step " << step << " op " << op;
            ASSERT_EQ(slots[i].GetString()[slots[i].GetLength()], 0) << "step " << step;
            ASSERT_GE(slots[i].GetAllocLength(), slots[i].GetLength()) << "step " << step;
            if (!IsNil(slots[i]))
                ++holders[slots[i].GetString()];
        }
        for (int i = 0; i < kSlots; ++i) {
            if (IsNil(slots[i]))
                continue;
            int refs = Refs(slots[i]);
            int expect = holders[slots[i].GetString()];
            if (refs == -1)
                ASSERT_EQ(expect, 1) << "a locked buffer is never shared, step " << step;
            else
                ASSERT_EQ(refs, expect) << "step " << step << " op " << op;
        }
    }
    EXPECT_EQ(_afxInitData.header.refCount, -1);
    EXPECT_EQ(_afxInitData.header.dataLength, 0);
}

} // namespace
