#include "win32compat/ProcessShims.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/SystemServices.h"

namespace {

constexpr char16_t kFill = 0xBEEF;

TEST(CodePages, MultiByteToWideCharCountsAndCopies) {
    // Three UTF-8 bytes, two characters.
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "a\xC3\xA9", -1, static_cast<char16_t*>(nullptr), 0),
              2);
    char16_t dst[6];
    for (char16_t& c : dst)
        c = kFill;
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "a\xC3\xA9", -1, dst, 6), 2);
    EXPECT_EQ(dst[0], u'a');
    EXPECT_EQ(dst[1], 0xE9);
    EXPECT_EQ(dst[2], kFill); // no terminator
    for (char16_t& c : dst)
        c = kFill;
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abcdef", 6, dst, 3), 3);
    EXPECT_EQ(dst[3], kFill);
    // An explicit count takes zeros inside the text as characters.
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "a\0b", 3, dst, 6), 3);
    EXPECT_EQ(dst[1], 0);

    struct Bad {
        const char* src;
        int bytes;
        int cap;
    } bad[] = {{nullptr, 3, 6}, {"abc", 0, 6},      {"abc", -2, 6}, {"", -1, 6},
               {"\xC3", -1, 6}, {"\xFF\xFE", 2, 6}, {"abc", 3, -1}};
    for (const Bad& b : bad) {
        for (char16_t& c : dst)
            c = kFill;
        EXPECT_EQ(MultiByteToWideChar(65001, 0, b.src, b.bytes, dst, b.cap), 0)
            << b.bytes << " " << b.cap;
        EXPECT_EQ(dst[0], kFill);
    }
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", 3, static_cast<char16_t*>(nullptr), 4), 0);
}

TEST(CodePages, CodePageSelectionFallsBackToUtf8) {
    char16_t dst[4];
    // 1252 knows the euro sign at 0x80; 28591 (Latin-1) maps bytes to units.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "\x80", 1, dst, 4), 1);
    EXPECT_EQ(dst[0], 0x20AC);
    EXPECT_EQ(MultiByteToWideChar(28591, 0, "\xE9", 1, dst, 4), 1);
    EXPECT_EQ(dst[0], 0xE9);
    // Unknown numbers (and 0, which the table lacks) decode as UTF-8.
    for (UINT cp : {0u, 12345u, 0xFFFFFFFFu}) {
        EXPECT_EQ(MultiByteToWideChar(cp, 0, "\xE2\x82\xAC", 3, dst, 4), 1) << cp;
        EXPECT_EQ(dst[0], 0x20AC) << cp;
    }
    unsigned short twin[2];
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "z", 1, twin, 2), 1);
    EXPECT_EQ(twin[0], 'z');
}

TEST(CodePages, WideCharToMultiByteSubstitutesAndCounts) {
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"\u00E9", -1, nullptr, 0, nullptr, nullptr), 2);
    char out[8];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"\u00E9\U0001F600", -1, out, 8, nullptr, nullptr), 6);
    EXPECT_EQ(0, memcmp(out, "\xC3\xA9\xF0\x9F\x98\x80Z", 7));
    // A character Latin-1 lacks becomes '?' and counts one byte.
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(WideCharToMultiByte(28591, 0, u"a\u20ACb", 3, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(WideCharToMultiByte(28591, 0, u"a\u20ACb", 3, out, 8, nullptr, nullptr), 3);
    EXPECT_EQ(0, memcmp(out, "a?bZ", 4));
    // Whole characters only when the room runs out.
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"a\u00E9", 2, out, 2, nullptr, nullptr), 1);
    EXPECT_EQ(0, memcmp(out, "aZ", 2));
    // usedDefault becomes FALSE only when both pointers are given.
    BOOL used = TRUE;
    WideCharToMultiByte(28591, 0, u"\u20AC", 1, out, 8, "?", &used);
    EXPECT_EQ(used, FALSE);
    used = TRUE;
    WideCharToMultiByte(28591, 0, u"\u20AC", 1, out, 8, nullptr, &used);
    EXPECT_EQ(used, TRUE);
    // Bad input.
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, static_cast<const char16_t*>(nullptr), 3, out, 8,
                                  nullptr, nullptr),
              0);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"abc", 0, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"abc", -5, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"", -1, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"abc", 3, out, -1, nullptr, nullptr), 0);
    EXPECT_EQ(out[0], 'Z');
    const unsigned short twin[] = {'o', 'k', 0};
    EXPECT_EQ(WideCharToMultiByte(65001, 0, twin, -1, out, 8, nullptr, nullptr), 2);
}

TEST(LstrFunctions, EmptySourcesLeaveTheDestinationAlone) {
    char16_t dst[8];
    for (char16_t& c : dst)
        c = kFill;
    EXPECT_EQ(lstrcpyn(dst, u"abcde", 3), dst);
    EXPECT_EQ(std::u16string(dst, 3), u"abc");
    EXPECT_EQ(dst[3], kFill);
    lstrcpyn(dst, u"", 3);
    lstrcpyn(dst, u"xy", 0);
    lstrcpyn(dst, u"xy", -4);
    EXPECT_EQ(std::u16string(dst, 3), u"abc");
    lstrcpyn(dst, u"xy", 5); // stops at the source's end, no terminator
    EXPECT_EQ(std::u16string(dst, 4), std::u16string(u"xyc") + kFill);

    for (char16_t& c : dst)
        c = kFill;
    EXPECT_EQ(lstrcpy(dst, u""), dst);
    EXPECT_EQ(dst[0], kFill);
    lstrcpy(dst, u"hi");
    EXPECT_EQ(std::u16string(dst, 3), std::u16string(u"hi\0", 3));
    EXPECT_EQ(lstrcat(dst, u"!?"), dst);
    EXPECT_EQ(std::u16string(dst), u"hi!?");
    lstrcat(dst, u"");
    EXPECT_EQ(lstrlen(dst), 4);
    EXPECT_EQ(lstrlen(static_cast<const char16_t*>(nullptr)), 0);
    EXPECT_EQ(lstrcpy(dst, static_cast<const char16_t*>(nullptr)), dst);
    unsigned short twin[4] = {1, 1, 1, 1};
    const unsigned short src[] = {'q', 0};
    lstrcpy(twin, src);
    EXPECT_EQ(lstrlen(twin), 1);
}

TEST(LastError, OnlySetLastErrorWritesIt) {
    EXPECT_EQ(g_dwLastErrCode, GetLastError());
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
    // The layer's own operations leave it alone.
    char16_t dst[4];
    MultiByteToWideChar(65001, 0, "\xC3", 1, dst, 4);
    GlobalFlags(dst);
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
    SetLastError(0);
    EXPECT_EQ(g_dwLastErrCode, 0u);
}

TEST(TickTime, MillisecondsWrapIn32Bits) {
    EXPECT_EQ(TickCountToMilliseconds(0), 0u);
    EXPECT_EQ(TickCountToMilliseconds(60), 1000u);
    EXPECT_EQ(TickCountToMilliseconds(4294967), 71582783u);
    EXPECT_EQ(TickCountToMilliseconds(4294968), 11u); // 4294968000 - 2^32 = 704
    EXPECT_EQ(TickCountToMilliseconds(0xFFFFFFFF), (0xFFFFFFFFu * 1000u) / 60u);
    EXPECT_EQ(GetTickCount() / 1000, TickCountToMilliseconds(TickCount()) / 1000);

    EXPECT_EQ(SleepTicksFor(0), 0u);
    EXPECT_EQ(SleepTicksFor(999), 0u);
    EXPECT_EQ(SleepTicksFor(1000), 60u);
    EXPECT_EQ(SleepTicksFor(2500), 120u);
    // A real one-second sleep lets at least 60 ticks pass.
    uint32_t before = TickCount();
    Sleep(1000);
    EXPECT_GE(TickCount() - before, 60u);
}

TEST(GlobalMemory, RecordsFlagsLocksAndSizes) {
    HGLOBAL h = GlobalAlloc(GMEM_ZEROINIT, 16);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(g_memTable, nullptr);
    const unsigned char* bytes = static_cast<const unsigned char*>(h);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(GlobalSize(h), 16u);
    EXPECT_EQ(GlobalFlags(h), 0x400u);
    ASSERT_EQ(GlobalLock(h), h) << "mlock refused: " << strerror(errno);
    EXPECT_EQ(GlobalFlags(h), 0x401u);
    EXPECT_EQ(GlobalUnlock(h), TRUE);
    EXPECT_EQ(GlobalFlags(h), 0x400u);
    // The lock count may go below zero; its low byte shows.
    EXPECT_EQ(GlobalUnlock(h), TRUE);
    EXPECT_EQ(GlobalFlags(h), 0x4FFu);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFlags(h), 0x8000u);

    // Other flags are recorded (shifted by 4, low byte only).
    HGLOBAL m = GlobalAlloc(GMEM_MOVEABLE | 0x1000, 3);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GlobalFlags(m), 0x20u);
    EXPECT_EQ(GlobalSize(m), 3u);
    HGLOBAL z = GlobalAlloc(0, 0);
    if (z != nullptr) {
        EXPECT_EQ(GlobalSize(z), 0u);
        EXPECT_EQ(GlobalFlags(z), 0u);
        GlobalFree(z);
    }
    GlobalFree(m);
}

TEST(GlobalMemory, UnknownHandlesGiveTheFailureResults) {
    int local = 0;
    EXPECT_EQ(GlobalFlags(&local), 0x8000u);
    EXPECT_EQ(GlobalSize(&local), 0u);
    EXPECT_EQ(GlobalLock(&local), nullptr);
    EXPECT_EQ(GlobalUnlock(&local), FALSE);
    EXPECT_EQ(GlobalFree(&local), nullptr); // not ours: left alone, no crash
    EXPECT_EQ(GlobalFlags(nullptr), 0x8000u);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalMemory, ValueCallbacksCopyAndFreeTheRecord) {
    EXPECT_EQ(g_valueCallbacks.version, 0);
    EXPECT_EQ(g_valueCallbacks.retain, &DictionaryRetainNumBytes);
    EXPECT_EQ(g_valueCallbacks.release, &DictionaryReleaseNumBytes);
    EXPECT_EQ(g_valueCallbacks.copyDescription, nullptr);
    EXPECT_EQ(g_valueCallbacks.equal, nullptr);
    static_assert(sizeof(GlobalMemRecord) == 12);
    GlobalMemRecord rec = {7, 2, 0x42};
    const void* copy = DictionaryRetainNumBytes(nullptr, &rec);
    ASSERT_NE(copy, &rec);
    EXPECT_EQ(0, memcmp(copy, &rec, sizeof rec));
    DictionaryReleaseNumBytes(nullptr, copy); // asan reports a leak if this does not free
}

// Pinning needs either CAP_IPC_LOCK or a memlock allowance; with neither,
// GlobalLock must fail and leave the lock count alone. Done in a child so
// the test process keeps its capabilities.
TEST(GlobalMemory, LockFailsWhenPinningIsRefused) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0)
            _exit(10);
        const int bit = CAP_IPC_LOCK;
        data[bit / 32].effective &= ~(1u << (bit % 32));
        data[bit / 32].permitted &= ~(1u << (bit % 32));
        data[bit / 32].inheritable &= ~(1u << (bit % 32));
        if (syscall(SYS_capset, &header, data) != 0)
            _exit(11);
        rlimit none = {0, 0};
        if (setrlimit(RLIMIT_MEMLOCK, &none) != 0)
            _exit(12);
        HGLOBAL h = GlobalAlloc(0, 4096);
        if (h == nullptr)
            _exit(13);
        if (GlobalLock(h) != nullptr)
            _exit(14);
        if (GlobalFlags(h) != 0)
            _exit(15);
        GlobalFree(h);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
