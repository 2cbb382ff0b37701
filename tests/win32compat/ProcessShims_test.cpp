#include "win32compat/ProcessShims.h"

#include <sys/resource.h>

#include <string>

#include <gtest/gtest.h>

#include "strings/Utf8String.h"
#include "tests/TestSupport.h"

namespace {

// Both directions share their refusals, and ASCII has as many units as bytes: every row
// of {count, capacity, result} converts "abcdef" both ways. Failures give 0 and write
// nothing; no count includes a terminator.
TEST(CodePages, ConversionsBothWays) {
    const int rows[][3] = {{2, 8, 2}, {6, 3, 3}, {-1, 8, 6}, {0, 8, 0}, {-2, 8, 0}, {6, -1, 0}};
    for (const auto& r : rows) {
        std::u16string units(8, u'#');
        std::string bytes(8, '#');
        const std::string want = std::string("abcdef", r[2]) + std::string(8 - r[2], '#');
        EXPECT_EQ(MultiByteToWideChar(65001, 0, "abcdef", r[0], units.data(), r[1]) * 10 +
                      WideCharToMultiByte(65001, 0, u"abcdef", r[0], bytes.data(), r[1], nullptr,
                                          nullptr),
                  r[2] * 11);
        EXPECT_EQ(std::string(units.begin(), units.end()) + "|" + bytes, want + "|" + want);
    }
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "a\xC3\xA9", -1, static_cast<char16_t*>(nullptr), 0),
              2);
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", 3, static_cast<unsigned short*>(nullptr), 4) +
                  MultiByteToWideChar(65001, 0, nullptr, 3, static_cast<char16_t*>(nullptr), 0) +
                  WideCharToMultiByte(65001, 0, u"abc", 3, nullptr, 4, nullptr, nullptr) +
                  WideCharToMultiByte(65001, 0, static_cast<const char16_t*>(nullptr), 3, nullptr,
                                      0, nullptr, nullptr),
              0);
    // Only whole characters fit; a character Latin-1 lacks becomes '?'. usedDefault becomes
    // FALSE only when both pointers are given, and never TRUE.
    char out[] = "#######";
    BOOL kept = TRUE, cleared = TRUE;
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"a\u00E9", 2, out, 2, nullptr, &kept) * 10 +
                  WideCharToMultiByte(28591, 0, u"a\u20ACb", -1, out + 2, 5, "?", &cleared),
              13);
    EXPECT_EQ(out + std::to_string(kept) + std::to_string(cleared), "a#a?b##10");
    // The string conversions keep exactly what was written; code page 0 is unknown: UTF-8.
    const CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(CAtlString(u"a\u00DF\U00010348"));
    EXPECT_EQ(std::string(utf8.GetString(), utf8.GetLength()), "a\xC3\x9F\xF0\x90\x8D\x88");
    EXPECT_TRUE(MakeWideStringFromUTF8String(CAtlStringA("ab\xC3")).IsEmpty());
    EXPECT_TRUE(MakeWideStringFromASCIIString(CAtlStringA("\xE2\x82\xAC")) == u"\u20AC");
}

// lstr functions leave the destination alone for an empty source; ticks are sixtieths of
// a second, the product wrapping in 32 bits; sleeps are whole seconds; nothing but
// SetLastError writes the last error.
TEST(ProcessShims, StringsTimeAndTheLastError) {
    SetLastError(0xDEADBEEF);
    std::u16string dst(6, u'#');
    lstrcpyn(lstrcpyn(dst.data(), u"abcde", 3), static_cast<const char16_t*>(nullptr), 3);
    EXPECT_EQ(lstrcpyn(dst.data(), u"x", 5), dst.data()); // stops at the source's end
    EXPECT_EQ(dst, u"xbc###");
    lstrcat(lstrcat(lstrcpy(lstrcpy(dst.data(), u""), u"hi"), u"!?"),
            static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(dst, std::u16string(u"hi!?\0#", 6));
    EXPECT_EQ(lstrlen(dst.data()) + lstrlen(static_cast<const char16_t*>(nullptr)), 4);
    EXPECT_EQ(lstrcpy(static_cast<char16_t*>(nullptr), u"x"), nullptr);
    EXPECT_EQ(TickCountToMilliseconds(60) + TickCountToMilliseconds(4294968), 1011u);
    EXPECT_EQ(SleepTicksFor(999) + SleepTicksFor(2500), 120u);
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
}

// Flags show the lock count's low byte and the allocation flags' low byte shifted by 4.
TEST(GlobalMemory, RecordsFlagsLocksAndSizes) {
    HGLOBAL h = GlobalAlloc(GMEM_ZEROINIT, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h) * 0x1000 + GlobalFlags(h), 0x10400u);
    ASSERT_EQ(GlobalLock(h), h) << "mlock refused";
    EXPECT_EQ(GlobalFlags(h), 0x401u);
    EXPECT_EQ(GlobalUnlock(h) + GlobalUnlock(h), 2); // the count may go below zero
    EXPECT_EQ(GlobalFlags(h), 0x4FFu);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE);
    EXPECT_EQ(GlobalSize(h) + GlobalUnlock(h) + (GlobalLock(h) != nullptr), 0u);
    HGLOBAL m = GlobalAlloc(GMEM_MOVEABLE | 0x1000, 3);
    EXPECT_EQ(GlobalFlags(m), 0x20u);
    GlobalFree(m);
    EXPECT_EQ(GlobalAlloc(0, SIZE_T(UINT32_MAX) + 1), nullptr) << "the record holds 32 bits";
    // Without root and a memlock allowance the pages cannot be pinned: GlobalLock fails and
    // leaves the count alone. In a child, so the tests keep their privileges.
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root";
    EXPECT_EQ(testsupport::InChild([] {
                  const rlimit none = {0, 0};
                  if (setrlimit(RLIMIT_MEMLOCK, &none) != 0 || setuid(65534) != 0)
                      return 11;
                  HGLOBAL p = GlobalAlloc(0, 4096);
                  return p == nullptr ? 12 : GlobalLock(p) ? 13 : GlobalFlags(p) != 0 ? 14 : 0;
              }),
              0);
}

} // namespace
