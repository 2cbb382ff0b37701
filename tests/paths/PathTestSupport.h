// What the path tests share: conversions between test paths and CAtlString, and the
// temporary-folder fixture with its path-class shorthands.
#pragma once

#include <string>

#include "paths/PathClasses.h"
#include "strings/AtlString.h"
#include "tests/TestSupport.h"

namespace pathtest {

// ASCII and Latin-1 test paths widen byte for byte.
inline CAtlString W(const std::string& text) {
    return CAtlString(text.c_str());
}

// The low bytes of a CAtlString's units: a name's escaped byte comes back as itself.
inline std::string N(const CAtlString& text) {
    std::string out;
    for (int i = 0; i < text.GetLength(); ++i)
        out.push_back(static_cast<char>(text.GetAt(i)));
    return out;
}

inline void MakeFile(const std::string& path, const std::string& content = "x",
                     mode_t mode = 0644) {
    ASSERT_TRUE(testsupport::WriteFile(path, content, mode)) << path;
}

inline void MakeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
}

class TempDirTest : public testsupport::TempFolderTest {
protected:
    CAtlString WPath(const std::string& relative) const { return W(Path(relative)); }
    // "" stands for the empty path.
    COrvikFilePath File(const std::string& relative) const {
        return relative.empty() ? COrvikFilePath() : COrvikFilePath(WPath(relative));
    }
    COrvikDirectoryPath Dir(const std::string& relative) const {
        return COrvikDirectoryPath(WPath(relative));
    }
    bool Exists(const std::string& relative) const { return testsupport::Exists(Path(relative)); }
    // Never a FIFO: opening one would wait for a writer.
    std::string Read(const std::string& relative) const {
        return testsupport::ReadFile(Path(relative));
    }
};

} // namespace pathtest
