// Helpers for the file-layer tests: a fresh temporary folder per test, 16-bit paths, and
// direct POSIX access to set up and check what the functions under test did. Nothing here
// uses the functions under test, so a fault in them cannot hide behind a helper.
#pragma once

#include <string>
#include <vector>

#include "platform/FileManager.h"
#include "tests/TestSupport.h"

namespace filetest {

// UTF-8 to UTF-16, enough for test paths.
inline std::u16string U(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c < 0xF0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        for (int k = 1; k <= extra && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

inline std::string Narrow(const char16_t* s) {
    std::string out;
    for (; *s != 0; ++s)
        out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
    return out;
}

using testsupport::Exists;
using testsupport::IsDir;
using testsupport::IsImmutable;
using testsupport::IsLink;
using testsupport::IsRoot;
using testsupport::ModeOf;
using testsupport::ReadFile;
using testsupport::RemoveTree;
using testsupport::SetImmutable;
using testsupport::WriteFile;

inline void MakeDir(const std::string& path, mode_t mode = 0755) {
    mkdir(path.c_str(), mode);
}

// The common fixture, with paths relative to the test folder as the functions under test
// take them (W) and as POSIX takes them (P). Extra folders (on other file systems) are
// removed with it.
class TempDirTest : public testsupport::TempFolderTest {
protected:
    void TearDown() override {
        for (const auto& d : extraDirs_)
            RemoveTree(d);
        TempFolderTest::TearDown();
    }
    std::string MakeTempDir(const std::string& base) {
        std::string dir = testsupport::MakeTempFolder(base);
        if (!dir.empty())
            extraDirs_.push_back(dir);
        return dir.empty() ? base : dir;
    }
    std::string P(const std::string& rel) const { return Path(rel); }
    // The reference of what the path names, its last link kept as itself.
    FSRef RefOf(const std::string& path) {
        FSRef ref;
        EXPECT_EQ(FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(path.c_str()),
                                           kFSPathMakeRefDoNotFollowLeafSymlink, &ref, nullptr),
                  noErr)
            << path;
        return ref;
    }
    std::u16string W(const std::string& rel) const { return U(P(rel)); }

    std::vector<std::string> extraDirs_;
};

} // namespace filetest
