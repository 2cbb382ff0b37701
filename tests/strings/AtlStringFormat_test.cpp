// Format, FormatV and AppendFormat of both string classes: the "%s" to "%S" rewrite, the
// buffer they leave, and what a failing format leaves behind.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(AtlStringFormat, SixteenBitFormatsReadPercentSAsSixteenBit) {
    CAtlString s;
    s.Format(u"%s%d", u"abc", 7);
    EXPECT_EQ(Units(s), u"abc7");
    s.Format(u"%%s");
    EXPECT_EQ(Units(s), u"%S");
    s.Format(u"%5s|", "ab"); // not the exact two units: still an 8-bit string
    EXPECT_EQ(Units(s), u"   ab|");
    s.Format(u"%s%c%s", u"/tmp/dir", 0x2F, u"file.txt");
    EXPECT_EQ(Units(s), u"/tmp/dir/file.txt");
    s.Format(u"%s%c%s(%d)%s", u"a", 0x2F, u"b", 3, u".c");
    EXPECT_EQ(Units(s), u"a/b(3).c");
    s.Format(u"%x %o %u %S", 255u, 8u, 4000000000u, u"\u4E2D");
    EXPECT_EQ(Units(s), u"ff 10 4000000000 \u4E2D");
    s.Format(reinterpret_cast<const unsigned short*>(u"%s-%d"), u"\u00E9", -2);
    EXPECT_EQ(Units(s), u"\u00E9--2");
    CFStringRef cf = CFStringCreateWithCharacters(nullptr, u"cf", 2);
    s.Format(u"%@%u", cf, 12u);
    EXPECT_EQ(Units(s), u"cf12");
    CFRelease(cf);
    EXPECT_EQ(s.GetAllocLength(), s.GetLength() + 1); // one unit more than the text
}

TEST(AtlStringFormat, BufferRulesOfFormat) {
    CAtlString s(u"old");
    s.Format(u"");
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetAllocLength(), 1);
    EXPECT_FALSE(IsNil(s));
    EXPECT_EQ(s.GetString()[0], 0);
    CAtlString n;
    n.Format(static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(n.GetLength(), 0);

    CAtlString shared(u"keep");
    CAtlString writer(shared);
    writer.Format(u"%d", 42);
    EXPECT_EQ(Units(writer), u"42");
    EXPECT_EQ(Units(shared), u"keep");
    EXPECT_EQ(Refs(shared), 1);
    EXPECT_EQ(Refs(writer), 1);

    CAtlString locked(u"locked!");
    const char16_t* p = locked.LockBuffer();
    locked.Format(u"%d", 1); // a locked buffer is released, never written
    EXPECT_NE(locked.GetString(), p);
    EXPECT_EQ(Refs(locked), 1);
    EXPECT_EQ(Units(locked), u"1");
    // Formatting from the string's own text.
    CAtlString self(u"ab");
    self.Format(u"%s%s", self.GetString(), self.GetString());
    EXPECT_EQ(Units(self), u"abab");
}

TEST(AtlStringFormat, AppendFormat) {
    CAtlString s(u"n=");
    s.AppendFormat(u"%d", 0); // a literal 0 is an argument, not a va_list
    s.AppendFormat(u"%s", u"!");
    s.AppendFormat(reinterpret_cast<const unsigned short*>(u"%c"), 'x');
    EXPECT_EQ(Units(s), u"n=0!x");
    EXPECT_EQ(s.GetAllocLength(), 5); // exact-fit growth
    CAtlString room;
    const char16_t* p = room.GetBuffer(20);
    room.AppendFormat(u"%d-%d", 1, 2);
    EXPECT_EQ(room.GetString(), p);
    EXPECT_EQ(Units(room), u"1-2");
    CAtlString shared(room);
    shared.AppendFormat(u"%s", u"+");
    EXPECT_EQ(Units(room), u"1-2");
    EXPECT_EQ(Units(shared), u"1-2+");
    CAtlString nothing;
    nothing.AppendFormat(u"");
    EXPECT_TRUE(IsNil(nothing));
}

TEST(AtlStringFormat, FailingFormatLeavesTheString) {
    // Positional and sequential arguments mixed: the engine returns nothing.
    CAtlString s(u"same");
    s.Format(u"%1$d %d", 1, 2);
    EXPECT_EQ(Units(s), u"same");
    s.AppendFormat(u"%1$d %d", 1, 2);
    EXPECT_EQ(Units(s), u"same");
    CAtlStringA a("same");
    a.Format("%1$d %d", 1, 2);
    EXPECT_EQ(Bytes(a), "same");
    a.AppendFormat("%1$d %d", 1, 2);
    EXPECT_EQ(Bytes(a), "same");
}

TEST(AtlStringFormat, EightBitFormats) {
    CAtlStringA a;
    a.Format("%s%d", "abc", 7); // "%s" stays 8-bit here
    EXPECT_EQ(Bytes(a), "abc7");
    EXPECT_EQ(a.GetAllocLength(), 5);
    a.Format("kill -9 %d", 1234);
    EXPECT_EQ(Bytes(a), "kill -9 1234");
    a.Format("%S|%s", u"wide", "caf\xC3\xA9"); // "%s" is UTF-8, the result Mac OS Roman
    EXPECT_EQ(Bytes(a), "wide|caf\x8E");
    a.Format("%S", u"a\u4E2Db"); // what Mac OS Roman lacks becomes '?'
    EXPECT_EQ(Bytes(a), "a?b");
    a.Format("");
    EXPECT_EQ(a.GetLength(), 0);
    EXPECT_EQ(a.GetAllocLength(), 1);
    a.AppendFormat("%d", 0);
    a.AppendFormat("%c%c", 'o', 'k');
    EXPECT_EQ(Bytes(a), "0ok");
    CAtlStringA shared(a);
    shared.Format("%x", 255);
    EXPECT_EQ(Bytes(shared), "ff");
    EXPECT_EQ(Bytes(a), "0ok");
    CAtlStringA n;
    n.Format(nullptr);
    EXPECT_EQ(n.GetLength(), 0);
}

} // namespace
