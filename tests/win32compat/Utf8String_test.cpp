#include "strings/Utf8String.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// The conversions keep exactly what the code-page functions wrote: all of it, nothing of
// the spare room, and nothing at all for bytes that do not decode.
TEST(Utf8String, ConversionsKeepExactlyWhatWasWritten) {
    struct Row {
        std::u16string units;
        std::string bytes;
    } rows[] = {{u"", ""},
                {u"/tmp/a b", "/tmp/a b"},
                {u"a\u00DF\u4E2D\U00010348", "a\xC3\x9F\xE4\xB8\xAD\xF0\x90\x8D\x88"}};
    for (const Row& r : rows) {
        const CAtlStringA encoded = MakeUTF8StringFromUnicodeString(CAtlString(r.units.c_str()));
        EXPECT_EQ(std::string(encoded.GetString(), encoded.GetLength()), r.bytes);
        const CAtlString decoded = MakeWideStringFromUTF8String(CAtlStringA(r.bytes.c_str()));
        EXPECT_EQ(std::u16string(decoded.GetString(), decoded.GetLength()), r.units);
    }
    const char16_t lone[] = {u'a', 0xD800, u'b', 0}; // no UTF-8 form: '?'
    EXPECT_EQ(std::string(MakeUTF8StringFromUnicodeString(CAtlString(lone)).GetString()), "a?b");
    EXPECT_TRUE(MakeWideStringFromUTF8String(CAtlStringA("ab\xC3")).IsEmpty());
    EXPECT_TRUE(MakeWideStringFromUTF8String(CAtlStringA("\xED\xA0\x80")).IsEmpty());
    const CAtlString plain = MakeWideStringFromASCIIString(CAtlStringA("plain"));
    EXPECT_EQ(std::u16string(plain.GetString(), plain.GetLength()), u"plain");
}

} // namespace
