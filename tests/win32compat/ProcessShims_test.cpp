#include "win32compat/ProcessShims.h"

#include <sys/resource.h>

#include <cstring>
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
        EXPECT_EQ(MultiByteToWideChar(65001, 0, "abcdef", r[0], units.data(), r[1]) * 10 +
                      WideCharToMultiByte(65001, 0, u"abcdef", r[0], bytes.data(), r[1], nullptr,
                                          nullptr),
                  r[2] * 11);
        const std::string want = std::string("abcdef", r[2]) + std::string(8 - r[2], '#');
        EXPECT_EQ(std::string(units.begin(), units.end()) + "|" + bytes, want + "|" + want)
            << r[0] << " " << r[1];
    }
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "a\xC3\xA9", -1, static_cast<char16_t*>(nullptr), 0),
              2);
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", 3, static_cast<unsigned short*>(nullptr), 4) +
                  MultiByteToWideChar(65001, 0, nullptr, 3, static_cast<char16_t*>(nullptr), 0) +
                  WideCharToMultiByte(65001, 0, u"abc", 3, nullptr, 4, nullptr, nullptr) +
                  WideCharToMultiByte(65001, 0, static_cast<const char16_t*>(nullptr), 3, nullptr,
                                      0, nullptr, nullptr),
              0);
    // Only whole characters fit; a character Latin-1 lacks becomes '?'.
    char out[] = "#######";
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"a\u00E9", 2, out, 2, nullptr, nullptr), 1);
    EXPECT_EQ(WideCharToMultiByte(28591, 0, u"a\u20ACb", -1, out + 2, 5, nullptr, nullptr), 3);
    EXPECT_STREQ(out, "a#a?b##");
    // usedDefault becomes FALSE only when both pointers are given, and never TRUE.
    BOOL kept = TRUE, cleared = TRUE;
    WideCharToMultiByte(28591, 0, u"\u20AC", 1, nullptr, 0, nullptr, &kept);
    WideCharToMultiByte(28591, 0, u"\u20AC", 1, nullptr, 0, "?", &cleared);
    EXPECT_EQ(kept * 10 + cleared, 10);
    // The string conversions keep exactly what was written; code page 0 is unknown: UTF-8.
    const CAtlString wide(u"a\u00DF\u4E2D\U00010348");
    const CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(wide);
    EXPECT_EQ(std::string(utf8.GetString(), utf8.GetLength()),
              "a\xC3\x9F\xE4\xB8\xAD\xF0\x90\x8D\x88");
    EXPECT_TRUE(MakeWideStringFromUTF8String(utf8) == wide);
    EXPECT_TRUE(MakeWideStringFromUTF8String(CAtlStringA("ab\xC3")).IsEmpty());
    EXPECT_TRUE(MakeWideStringFromASCIIString(CAtlStringA("\xE2\x82\xAC")) == u"\u20AC");
}

TEST(LstrFunctions, EmptySourcesLeaveTheDestinationAlone) {
    std::u16string dst(6, u'#');
    EXPECT_EQ(lstrcpyn(dst.data(), u"abcde", 3), dst.data());
    lstrcpyn(dst.data(), static_cast<const char16_t*>(nullptr), 3);
    lstrcpyn(dst.data(), u"x", 5); // stops at the source's end, no terminator
    EXPECT_EQ(dst, u"xbc###");
    lstrcpy(dst.data(), u"");
    EXPECT_EQ(lstrcpy(dst.data(), u"hi"), dst.data());
    EXPECT_EQ(lstrcat(dst.data(), u"!?"), dst.data());
    lstrcat(dst.data(), static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(dst, std::u16string(u"hi!?\0#", 6));
    EXPECT_EQ(lstrlen(dst.data()) + lstrlen(static_cast<const char16_t*>(nullptr)), 4);
    EXPECT_EQ(lstrcpy(static_cast<char16_t*>(nullptr), u"x"), nullptr);
}

// Ticks are sixtieths of a second, the product wrapping in 32 bits; sleeps are whole
// seconds. Nothing but SetLastError writes the last error.
TEST(LastErrorAndTime, TicksSleepsAndTheLastError) {
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(TickCountToMilliseconds(60) + TickCountToMilliseconds(4294968), 1011u);
    EXPECT_EQ(SleepTicksFor(999) + SleepTicksFor(2500), 120u);
    const DWORD before = GetTickCount();
    Sleep(1000);
    const DWORD slept = GetTickCount() - before;
    EXPECT_TRUE(slept >= 1000u && slept < 5000u) << slept;
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
}

TEST(GlobalMemory, RecordsFlagsLocksAndSizes) {
    HGLOBAL h = GlobalAlloc(GMEM_ZEROINIT, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(h), 16), std::string(16, '\0'));
    EXPECT_EQ(GlobalSize(h) * 0x1000 + GlobalFlags(h), 0x10400u);
    ASSERT_EQ(GlobalLock(h), h) << "mlock refused: " << strerror(errno);
    EXPECT_EQ(GlobalFlags(h), 0x401u);
    EXPECT_EQ(GlobalUnlock(h) + GlobalUnlock(h), 2); // the count may go below zero
    EXPECT_EQ(GlobalFlags(h), 0x4FFu);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE);
    EXPECT_EQ(GlobalSize(h) + GlobalUnlock(h), 0u);
    EXPECT_EQ(GlobalLock(h), nullptr);
    int local = 0;
    EXPECT_EQ(GlobalFree(&local), nullptr);             // not ours: never handed to free
    HGLOBAL m = GlobalAlloc(GMEM_MOVEABLE | 0x1000, 3); // other flags recorded, low byte
    EXPECT_EQ(GlobalFlags(m), 0x20u);
    GlobalFree(m);
    EXPECT_EQ(GlobalAlloc(0, SIZE_T(UINT32_MAX) + 1), nullptr) << "the record holds 32 bits";
    // Without root and a memlock allowance the pages cannot be pinned: GlobalLock fails and
    // leaves the count alone. In a child, so the tests keep their privileges.
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root";
    const int status = testsupport::InChild([] {
        const rlimit none = {0, 0};
        if (setrlimit(RLIMIT_MEMLOCK, &none) != 0 || setuid(65534) != 0)
            return 11;
        HGLOBAL h = GlobalAlloc(0, 4096);
        return h == nullptr ? 12 : GlobalLock(h) != nullptr ? 13 : GlobalFlags(h) != 0 ? 14 : 0;
    });
    EXPECT_EQ(status, 0);
}

} // namespace
