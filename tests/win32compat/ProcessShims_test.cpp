#include "win32compat/ProcessShims.h"

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/SystemServices.h"
#include "tests/TestSupport.h"

namespace {

constexpr char16_t kFill = 0xBEEF;

// Every failure gives 0 and writes nothing; the count of units never includes a zero.
TEST(CodePages, MultiByteToWideChar) {
    struct Row {
        UINT codePage;
        const char* src;
        int bytes, capacity, result;
        std::u16string written;
    } rows[] = {{65001, "a\xC3\xA9", -1, 0, 2, u""},
                {65001, "a\xC3\xA9", -1, 6, 2, u"a\u00E9"},
                {65001, "abcdef", 6, 3, 3, u"abc"},
                {65001, "a\0b", 3, 6, 3, std::u16string(u"a\0b", 3)},
                {1252, "\x80", 1, 4, 1, u"\u20AC"},
                {28591, "\xE9", 1, 4, 1, u"\u00E9"},
                // Numbers the table does not know (0 among them) decode as UTF-8.
                {0, "\xE2\x82\xAC", 3, 4, 1, u"\u20AC"},
                {0xFFFFFFFF, "\xE2\x82\xAC", 3, 4, 1, u"\u20AC"},
                {65001, nullptr, 3, 6, 0, u""},
                {65001, "abc", 0, 6, 0, u""},
                {65001, "abc", -2, 6, 0, u""},
                {65001, "", -1, 6, 0, u""},
                {65001, "\xC3", -1, 6, 0, u""},
                {65001, "\xFF\xFE", 2, 6, 0, u""},
                {65001, "abc", 3, -1, 0, u""}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.codePage << " " << r.bytes << " " << r.capacity);
        std::u16string dst(8, kFill);
        EXPECT_EQ(MultiByteToWideChar(r.codePage, 0, r.src, r.bytes,
                                      reinterpret_cast<unsigned short*>(dst.data()), r.capacity),
                  r.result);
        EXPECT_EQ(dst, r.written + std::u16string(8 - r.written.size(), kFill));
    }
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", 3, static_cast<char16_t*>(nullptr), 4), 0);
}

TEST(CodePages, WideCharToMultiByte) {
    struct Row {
        UINT codePage;
        const char16_t* src;
        int units, capacity, result;
        std::string written;
    } rows[] = {{65001, u"\u00E9", -1, 0, 2, ""},
                {65001, u"\u00E9\U0001F600", -1, 8, 6, "\xC3\xA9\xF0\x9F\x98\x80"},
                // A character Latin-1 lacks becomes '?'; only whole characters fit.
                {28591, u"a\u20ACb", 3, 0, 3, ""},
                {28591, u"a\u20ACb", 3, 8, 3, "a?b"},
                {65001, u"a\u00E9", 2, 2, 1, "a"},
                {65001, nullptr, 3, 8, 0, ""},
                {65001, u"abc", 0, 8, 0, ""},
                {65001, u"abc", -5, 8, 0, ""},
                {65001, u"", -1, 8, 0, ""},
                {65001, u"abc", 3, -1, 0, ""}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.codePage << " " << r.units << " " << r.capacity);
        std::string dst(8, 'Z');
        EXPECT_EQ(WideCharToMultiByte(r.codePage, 0, reinterpret_cast<const unsigned short*>(r.src),
                                      r.units, dst.data(), r.capacity, nullptr, nullptr),
                  r.result);
        EXPECT_EQ(dst, r.written + std::string(8 - r.written.size(), 'Z'));
    }
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"abc", 3, nullptr, 4, nullptr, nullptr), 0);
    // usedDefault becomes FALSE only when both pointers are given, and never TRUE.
    char out[8];
    BOOL used = TRUE;
    WideCharToMultiByte(28591, 0, u"\u20AC", 1, out, 8, nullptr, &used);
    EXPECT_EQ(used, TRUE);
    WideCharToMultiByte(28591, 0, static_cast<const char16_t*>(nullptr), 1, out, 8, "?", &used);
    EXPECT_EQ(used, FALSE);
}

TEST(LstrFunctions, EmptySourcesLeaveTheDestinationAlone) {
    std::u16string dst(8, kFill);
    EXPECT_EQ(lstrcpyn(dst.data(), u"abcde", 3), dst.data());
    EXPECT_EQ(dst.substr(0, 4), std::u16string(u"abc") + kFill);
    lstrcpyn(dst.data(), u"", 3);
    lstrcpyn(dst.data(), u"xy", 0);
    lstrcpyn(dst.data(), static_cast<const char16_t*>(nullptr), 3);
    EXPECT_EQ(dst.substr(0, 4), std::u16string(u"abc") + kFill);
    lstrcpyn(dst.data(), u"xy", 5); // stops at the source's end, no terminator
    EXPECT_EQ(dst.substr(0, 4), std::u16string(u"xyc") + kFill);

    dst.assign(8, kFill);
    EXPECT_EQ(lstrcpy(dst.data(), u""), dst.data());
    EXPECT_EQ(lstrcpy(dst.data(), static_cast<const char16_t*>(nullptr)), dst.data());
    EXPECT_EQ(dst[0], kFill);
    lstrcpy(dst.data(), u"hi");
    EXPECT_EQ(dst.substr(0, 4), std::u16string(u"hi\0", 3) + kFill);
    EXPECT_EQ(lstrcat(dst.data(), u"!?"), dst.data());
    lstrcat(dst.data(), u"");
    lstrcat(dst.data(), static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(dst.substr(0, 6), std::u16string(u"hi!?\0", 5) + kFill);
    EXPECT_EQ(lstrlen(dst.data()), 4);
    EXPECT_EQ(lstrlen(static_cast<const char16_t*>(nullptr)), 0);
    EXPECT_EQ(lstrcpy(static_cast<char16_t*>(nullptr), u"x"), nullptr);
}

TEST(LastErrorAndTime, OnlySetLastErrorWritesTheCodeAndTicksAreSixtiethsOfASecond) {
    SetLastError(0xDEADBEEF);
    char16_t dst[4];
    MultiByteToWideChar(65001, 0, "\xC3", 1, dst, 4);
    GlobalFlags(dst);
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
    SetLastError(0);
    EXPECT_EQ(g_dwLastErrCode, 0u);

    const uint32_t ticks[] = {0, 59, 60, 4294967, 4294968, 0xFFFFFFFF};
    const DWORD ms[] = {0, 983, 1000, 71582783, 11, 71582771}; // the product wraps in 32 bits
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(TickCountToMilliseconds(ticks[i]), ms[i]) << ticks[i];
    const DWORD sleeps[] = {0, 999, 1000, 2500};
    const unsigned long sleepTicks[] = {0, 0, 60, 120}; // whole seconds only
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(SleepTicksFor(sleeps[i]), sleepTicks[i]) << sleeps[i];
    const DWORD before = GetTickCount();
    Sleep(1000);
    const DWORD slept = GetTickCount() - before;
    EXPECT_GE(slept, 1000u);
    EXPECT_LT(slept, 5000u);
}

TEST(GlobalMemory, RecordsFlagsLocksAndSizes) {
    HGLOBAL h = GlobalAlloc(GMEM_ZEROINIT, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(h), 16), std::string(16, '\0'));
    EXPECT_EQ(GlobalSize(h), 16u);
    EXPECT_EQ(GlobalFlags(h), 0x400u);
    ASSERT_EQ(GlobalLock(h), h) << "mlock refused: " << strerror(errno);
    EXPECT_EQ(GlobalFlags(h), 0x401u);
    EXPECT_EQ(GlobalUnlock(h), TRUE);
    EXPECT_EQ(GlobalFlags(h), 0x400u);
    EXPECT_EQ(GlobalUnlock(h), TRUE); // the count may go below zero; its low byte shows
    EXPECT_EQ(GlobalFlags(h), 0x4FFu);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE);
    // Other flags are recorded (low byte, shifted by 4).
    HGLOBAL m = GlobalAlloc(GMEM_MOVEABLE | 0x1000, 3);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GlobalFlags(m), 0x20u);
    EXPECT_EQ(GlobalSize(m), 3u);
    GlobalFree(m);
    EXPECT_EQ(GlobalAlloc(0, SIZE_T(UINT32_MAX) + 1), nullptr) << "the record holds 32 bits";

    int local = 0;
    for (HGLOBAL unknown : {static_cast<HGLOBAL>(&local), static_cast<HGLOBAL>(nullptr)}) {
        EXPECT_EQ(GlobalFlags(unknown), 0x8000u);
        EXPECT_EQ(GlobalSize(unknown), 0u);
        EXPECT_EQ(GlobalLock(unknown), nullptr);
        EXPECT_EQ(GlobalUnlock(unknown), FALSE);
        EXPECT_EQ(GlobalFree(unknown), nullptr); // not ours: never handed to free
    }
}

// Without CAP_IPC_LOCK and a memlock allowance the pages cannot be pinned: GlobalLock
// fails and leaves the count alone. In a child, so the tests keep their capabilities.
TEST(GlobalMemory, LockFailsWhenPinningIsRefused) {
    const int status = testsupport::InChild([] {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0)
            return 10;
        const unsigned bit = 1u << (CAP_IPC_LOCK % 32);
        data[CAP_IPC_LOCK / 32].effective &= ~bit;
        data[CAP_IPC_LOCK / 32].permitted &= ~bit;
        rlimit none = {0, 0};
        if (syscall(SYS_capset, &header, data) != 0 || setrlimit(RLIMIT_MEMLOCK, &none) != 0)
            return 11;
        HGLOBAL h = GlobalAlloc(0, 4096);
        return h == nullptr ? 12 : GlobalLock(h) != nullptr ? 13 : GlobalFlags(h) != 0 ? 14 : 0;
    });
    EXPECT_EQ(status, 0);
}

} // namespace
