// Format, FormatV and AppendFormat of both string classes: the "%s" to "%S" rewrite of the
// 16-bit format, the buffers they leave, and a failing format leaving the string alone.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(AtlStringFormat, SixteenBitFormatsReadPercentSAsSixteenBit) {
    CAtlString s;
    s.Format(u"%s%d", u"abc", 7);
    EXPECT_EQ(Text(s), u"abc7");
    EXPECT_EQ(s.GetAllocLength(), 5); // one unit more than the text
    s.Format(u"%%s");
    EXPECT_EQ(Text(s), u"%S");
    s.Format(reinterpret_cast<const unsigned short*>(u"%5s|%s"), "ab", u"\u00E9");
    EXPECT_EQ(Text(s), u"   ab|\u00E9"); // "%5s" is no exact "%s": still an 8-bit string
    // Nothing to format: a real buffer of one unit.
    s.Format(u"");
    EXPECT_EQ(s.GetAllocLength(), 1);
    EXPECT_EQ(s.GetString()[0], 0);
}

TEST(AtlStringFormat, SharedAndLockedBuffersAreReleasedNeverWritten) {
    CAtlString shared(u"keep");
    CAtlString writer(shared);
    writer.Format(u"%d", 42);
    EXPECT_EQ(Text(writer), u"42");
    EXPECT_EQ(Text(shared), u"keep");
    EXPECT_EQ(Refs(shared), 1);
    CAtlString locked(u"locked!");
    const char16_t* p = locked.LockBuffer();
    locked.Format(u"%d", 1);
    EXPECT_NE(locked.GetString(), p);
    EXPECT_EQ(Text(locked), u"1");
    locked.Format(u"%s%s", locked.GetString(), locked.GetString()); // its own text
    EXPECT_EQ(Text(locked), u"11");
}

TEST(AtlStringFormat, AppendFormatFitsExactlyAndAFailureLeavesTheString) {
    // Positional and sequential arguments mixed: the engine makes nothing.
    CAtlString s(u"same");
    s.Format(u"%1$d %d", 1, 2);
    s.AppendFormat(u"%1$d %d", 1, 2);
    EXPECT_EQ(Text(s), u"same");
    CAtlStringA a("same");
    a.Format("%1$d %d", 1, 2);
    a.AppendFormat("%1$d %d", 1, 2);
    EXPECT_EQ(Text(a), "same");
    CAtlString n(u"n=");
    n.AppendFormat(u"%d", 0); // a literal 0 is an argument, not a va_list
    n.AppendFormat(reinterpret_cast<const unsigned short*>(u"%s"), u"!");
    EXPECT_EQ(Text(n), u"n=0!");
    EXPECT_EQ(n.GetAllocLength(), 4); // exact-fit growth
}

TEST(AtlStringFormat, EightBitFormats) {
    CAtlStringA a;
    a.Format("%s%d", "abc", 7); // "%s" stays 8-bit here
    EXPECT_EQ(Text(a), "abc7");
    EXPECT_EQ(a.GetAllocLength(), 5);
    a.Format("%S|%s", u"wide", "caf\xC3\xA9"); // "%s" is UTF-8, the result Mac OS Roman
    CAtlStringA keep(a);
    a.AppendFormat("%c%S", 'o', u"\u4E2D"); // what Mac OS Roman lacks becomes '?'
    EXPECT_EQ(Text(a) + "|" + Text(keep), "wide|caf\x8Eo?|wide|caf\x8E");
    CAtlStringA n("x");
    n.Format(nullptr);
    EXPECT_EQ(n.GetLength(), 0);
}

} // namespace
