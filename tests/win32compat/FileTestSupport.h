// The file-layer tests' fixture: a fresh temporary folder per test, paths in it as the
// functions under test take them (W) and as POSIX takes them (P), and plain POSIX set-up,
// so that a fault in the code under test cannot hide behind a helper.
#pragma once

#include <string>

#include "platform/FileManager.h"
#include "tests/TestSupport.h"

namespace filetest {

using namespace testsupport;

// Test paths are ASCII; a test spells any other character in 16 bits itself.
inline std::u16string U(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

class TempDirTest : public TempFolderTest {
protected:
    std::string P(const std::string& rel) const { return Path(rel); }
    std::u16string W(const std::string& rel) const { return U(Path(rel)); }
    void Dir(const std::string& rel) const { mkdir(Path(rel).c_str(), 0755); }
    void File(const std::string& rel, const std::string& content = "x") const {
        WriteFile(Path(rel), content);
    }
    // Entries in order: "d/" a folder, "f=text" a file ("f" alone holds "x"), "l->t" a link
    // to t, taken as it is when it starts with '.' or '/', else inside the test folder.
    void Make(std::initializer_list<std::string> entries) const {
        for (const std::string& e : entries) {
            const size_t arrow = e.find("->"), eq = e.find('=');
            if (arrow != std::string::npos) {
                const std::string to = e.substr(arrow + 2);
                symlink((to[0] == '.' || to[0] == '/' ? to : P(to)).c_str(),
                        P(e.substr(0, arrow)).c_str());
            } else if (e.back() == '/') {
                Dir(e);
            } else {
                File(e.substr(0, eq), eq == std::string::npos ? "x" : e.substr(eq + 1));
            }
        }
    }
    std::string Read(const std::string& rel) const { return ReadFile(Path(rel)); }
    bool Has(const std::string& rel) const { return Exists(Path(rel)); }
    // The reference of what the path names, its last link kept as itself.
    static FSRef RefOf(const std::string& path) {
        FSRef ref{};
        FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(path.c_str()),
                                 kFSPathMakeRefDoNotFollowLeafSymlink, &ref, nullptr);
        return ref;
    }
    static bool Same(const FSRef& a, const FSRef& b) { return FSCompareFSRefs(&a, &b) == noErr; }
};

} // namespace filetest
