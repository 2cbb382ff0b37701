// Shared helpers of the path tests: the common temporary-folder fixture, and
// conversions between test paths and CAtlString.
#pragma once

#include <string>

#include "strings/AtlString.h"
#include "tests/TestSupport.h"

namespace pathtest {

// ASCII and Latin-1 test paths widen byte for byte.
inline CAtlString W(const std::string& text) {
    return CAtlString(text.c_str());
}

// The bytes of a CAtlString holding only ASCII.
inline std::string N(const CAtlString& text) {
    std::string out;
    for (int i = 0; i < text.GetLength(); ++i)
        out.push_back(static_cast<char>(text.GetAt(i)));
    return out;
}

using testsupport::Exists;
using testsupport::RemoveTree;
using testsupport::SetImmutable;

inline void MakeFile(const std::string& path, const std::string& content = "x",
                     mode_t mode = 0644) {
    ASSERT_TRUE(testsupport::WriteFile(path, content, mode)) << path;
}

inline void MakeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
}

inline std::string ReadAll(const std::string& path) {
    return testsupport::ReadFile(path);
}

class TempDirTest : public testsupport::TempFolderTest {
protected:
    CAtlString WPath(const std::string& relative) const { return W(Path(relative)); }
};

} // namespace pathtest
