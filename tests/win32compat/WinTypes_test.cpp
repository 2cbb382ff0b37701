#include "win32compat/WinTypes.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {

// These values cross the layer's interfaces, so a typo here is a wrong result.
TEST(WinTypes, ValuesAndSizesMatchTheWindowsAbi) {
    static_assert(std::is_same_v<BOOL, int>);
    static_assert(std::is_same_v<DWORD, uint32_t> && std::is_same_v<UINT, uint32_t>);
    static_assert(std::is_same_v<WCHAR, char16_t> && std::is_same_v<LPCTSTR, const char16_t*>);
    EXPECT_EQ(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE), -1);
    EXPECT_EQ(static_cast<uint32_t>(E_INVALIDARG), 0x80070057u);
    EXPECT_EQ(static_cast<uint32_t>(E_UNEXPECTED), 0x8000FFFFu);
    EXPECT_EQ(static_cast<uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_TRUE(SUCCEEDED(S_OK));
    EXPECT_EQ(MAX_PATH, 260);
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL, 0x91);
    EXPECT_EQ(MB_YESNO | MB_ICONQUESTION, 0x24u);
    EXPECT_EQ(MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2, 0x133u);
    const int results[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(results[i], i + 1);
    EXPECT_EQ(GHND, 0x42);
}

} // namespace
