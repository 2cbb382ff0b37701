// What the file layer's tests share: a fresh temporary folder per test, paths in it as the
// functions under test take them (W) and as POSIX takes them (P). Set-up and checks are plain
// POSIX, so that a fault in the code under test cannot hide behind a helper.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "win32compat/FileCopy.h"
#include "win32compat/FileHandle.h"
#include "win32compat/FileSystem.h"

namespace filetest {

using namespace testsupport;

// The 16-bit twin's view of a path.
inline const unsigned short* US(const char16_t* s) {
    return reinterpret_cast<const unsigned short*>(s);
}

class FileTest : public TempFolderTest {
protected:
    void TearDown() override {
        RemoveTree(other_);
        TempFolderTest::TearDown();
    }
    // Links "far" to a folder on another file system; false when there is none to use.
    bool Far() {
        struct stat shm, tmp;
        if (stat("/dev/shm", &shm) != 0 || stat(root_.c_str(), &tmp) != 0 ||
            shm.st_dev == tmp.st_dev)
            return false;
        other_ = MakeTempFolder("/dev/shm");
        return symlink(other_.c_str(), P("far").c_str()) == 0;
    }
    BOOL Copy(const std::string& from, const std::string& to, bool failIfExists = false) {
        return CopyFile(W(from).c_str(), W(to).c_str(), failIfExists);
    }
    BOOL Move(const std::string& from, const std::string& to) {
        return MoveFile(US(W(from).c_str()), US(W(to).c_str()));
    }
    std::string P(const std::string& rel) const { return Path(rel); }
    std::u16string W(const std::string& rel) const { return Widen(Path(rel)); }
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
                mkdir(P(e).c_str(), 0755);
            } else {
                WriteFile(P(e.substr(0, eq)), eq == std::string::npos ? "x" : e.substr(eq + 1));
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
    std::string other_;
};

} // namespace filetest
